#include "SampleBlock.h"

#include <cstring>
#include <new>

SampleBlock *SampleBlock::Create(DWORD input, DWORD time, const unsigned char *data, DWORD length)
{
    void *memory = ::operator new(sizeof(SampleBlock) + length, std::nothrow);
    if (!memory)
        return nullptr;
    auto *block = new (memory) SampleBlock{input, time, length};
    if (data)
        std::memcpy(block->Data(), data, length);
    else
        std::memset(block->Data(), 0, length);
    return block;
}

void SampleBlock::Free(SampleBlock *block)
{
    if (block) {
        block->~SampleBlock();
        ::operator delete(block);
    }
}
