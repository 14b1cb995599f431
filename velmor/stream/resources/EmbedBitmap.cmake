# cmake -DINPUT=pause.bmp -DOUTPUT=x.cpp -DID=146 -P EmbedBitmap.cmake
# Turns a bitmap file into a C array the program carries as a resource.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include \"ProgramResources.h\"\n\n"
  "namespace {\nconst unsigned char kBitmap[${byteCount}] = {\n${bytes}\n};\n}\n\n"
  "extern const ProgramResource kBitmapResource${ID};\nconst ProgramResource kBitmapResource${ID} = {${ID}, kBitmap, ${byteCount}};\n")
