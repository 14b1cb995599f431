#pragma once
// RAII holders for the OpenSSL libcrypto handles of the digest and the
// signature check.
#include <openssl/evp.h>

#include <memory>

struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX *ctx) const noexcept { EVP_MD_CTX_free(ctx); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY *key) const noexcept { EVP_PKEY_free(key); }
};
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const noexcept { EVP_PKEY_CTX_free(ctx); }
};

using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree>;
