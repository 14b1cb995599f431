# Writes a "Mirvane.cfg" (CP949, CRLF) for the programs in FOLDER:
#   cmake -DSCRIPT_SIGN=... -DKEY=site.key -DSERVICE_URL=http://... -DVERSION=1.0.0.1
#         -DOUT=.../Mirvane.cfg -DFOLDER=... -P WriteMirvaneCfg.cmake
# The script key KEY is made with script_sign when it does not exist yet; its
# public half goes into "PublicKey" and beside the key as site.pub.
foreach(var SCRIPT_SIGN KEY SERVICE_URL VERSION OUT FOLDER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WriteMirvaneCfg.cmake: ${var} is not set")
  endif()
endforeach()

get_filename_component(key_dir "${KEY}" DIRECTORY)
file(MAKE_DIRECTORY "${key_dir}")
if(EXISTS "${KEY}")
  execute_process(COMMAND "${SCRIPT_SIGN}" pubkey "${KEY}" OUTPUT_VARIABLE public_key RESULT_VARIABLE rc)
else()
  execute_process(COMMAND "${SCRIPT_SIGN}" keygen "${KEY}" OUTPUT_VARIABLE public_key RESULT_VARIABLE rc)
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "script_sign failed on ${KEY}")
endif()
string(STRIP "${public_key}" public_key)
file(WRITE "${key_dir}/site.pub" "${public_key}\n")

set(lines
  "[config]"
  "KorName=벨모개인방송"
  "EngName=Velmor"
  "Version=${VERSION}"
  "Online=no"
  "Execute=${FOLDER}/Velmor.exe"
  "Argument=/u"
  "Skin=${FOLDER}/Mirvane.skin"
  "Script=${SERVICE_URL}/update/VelmorUpdate.kus"
  "Launch=${SERVICE_URL}/update/VelmorLaunch.kus"
  "InstallDir=HKCU,Software\\Quenta\\Velmor,install_path"
  "PgroupDir=HKCU,Software\\Quenta\\Velmor,PGroup"
  "PublicKey=${public_key}")
list(JOIN lines "\r\n" text)
get_filename_component(out_dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
file(WRITE "${OUT}.utf8" "${text}\r\n")
execute_process(COMMAND iconv -f UTF-8 -t CP949 "${OUT}.utf8" OUTPUT_FILE "${OUT}.tmp" RESULT_VARIABLE rc)
file(REMOVE "${OUT}.utf8")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "iconv could not write ${OUT} in CP949")
endif()
file(RENAME "${OUT}.tmp" "${OUT}")
