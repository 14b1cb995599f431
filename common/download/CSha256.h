#pragma once
// SHA-256 of a download, computed as its bytes go to the file. The digest a
// file item names ("SHA256", hexadecimal) is compared with Hex().
#include "OpenSslHolders.h"

#include <cstddef>
#include <string>
#include <string_view>

class CSha256 {
public:
    CSha256();

    // False when libcrypto could not set up or take the bytes; the digest is
    // then unusable and Hex() empty.
    bool Ok() const { return m_ok; }
    void Update(const void *data, std::size_t bytes);
    // The digest in lower-case hexadecimal (64 characters). Ends the digest.
    std::string Hex();

    // The digest of a whole file; empty when it cannot be read.
    static std::string OfFile(const std::string &path);
    // Whether two hexadecimal digests are the same, letter case aside.
    static bool SameHex(std::string_view a, std::string_view b);

private:
    EvpMdCtxPtr m_ctx;
    bool m_ok = false;
};
