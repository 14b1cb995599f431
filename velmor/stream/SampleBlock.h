#pragma once
// One queued captured buffer: writer input number, time in milliseconds since
// the writer's start tick, length and the bytes, in one heap allocation.
#include "platform/Win32Types.h"

#include <cstddef>

struct SampleBlock {
    DWORD input;
    DWORD time;
    DWORD length;

    unsigned char *Data() { return reinterpret_cast<unsigned char *>(this + 1); }
    const unsigned char *Data() const { return reinterpret_cast<const unsigned char *>(this + 1); }

    // A block carrying a copy of `length` bytes of `data` (zeros when data is
    // null). Null when memory runs out.
    static SampleBlock *Create(DWORD input, DWORD time, const unsigned char *data, DWORD length);
    static void Free(SampleBlock *block);
};
