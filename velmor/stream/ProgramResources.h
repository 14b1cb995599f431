#pragma once
// Resources the program carries inside itself (the bitmap resources of the
// original program), looked up by number.
#include <cstddef>

struct ProgramResource {
    int id;
    const unsigned char *data;
    std::size_t size;
};

// The pause picture: a 320x240 24-bit bitmap file.
inline constexpr int IDB_PAUSE = 146;

// The bitmap file of resource `id`, or null when the program has none.
const ProgramResource *FindBitmapResource(int id);
