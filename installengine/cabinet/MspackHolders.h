#pragma once
// Owners of libmspack's cabinet handles: the decompressor and an opened
// cabinet (or a joined set, which the decoder closes as one).
#include <mspack.h>

#include <memory>

struct MscabDecompressorDeleter {
    void operator()(mscab_decompressor *decoder) const { mspack_destroy_cab_decompressor(decoder); }
};
using MscabDecompressorPtr = std::unique_ptr<mscab_decompressor, MscabDecompressorDeleter>;

// Closes a cabinet through the decompressor that opened it.
struct MscabCabinetCloser {
    mscab_decompressor *decoder = nullptr;
    void operator()(mscabd_cabinet *cab) const
    {
        if (decoder)
            decoder->close(decoder, cab);
    }
};
using MscabCabinetPtr = std::unique_ptr<mscabd_cabinet, MscabCabinetCloser>;
