#include "SignatureCheck.h"

#include "OpenSslHolders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Scripts are small; a larger file is not one and is not read whole.
constexpr std::size_t maxSignedBytes = 16 * 1024 * 1024;
constexpr std::size_t keyBytes = 32;
constexpr std::size_t signatureBytes = 64;
// The DER SubjectPublicKeyInfo of an Ed25519 key: this prefix, then the key.
constexpr std::uint8_t spkiPrefix[] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03,
                                       0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};

bool ReadWhole(const std::string &path, std::size_t limit, std::vector<std::uint8_t> &bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    std::uint8_t buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || bytes.size() + static_cast<std::size_t>(n > 0 ? n : 0) > limit) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return ok;
}

int Sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string_view TrimSpace(std::string_view s)
{
    while (!s.empty() && std::strchr(" \t\r\n", s.front()))
        s.remove_prefix(1);
    while (!s.empty() && std::strchr(" \t\r\n", s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

bool DecodeBase64(std::string_view text, std::vector<std::uint8_t> &bytes)
{
    text = TrimSpace(text);
    bytes.clear();
    if (text.empty() || text.size() % 4 != 0)
        return false;
    std::size_t padding = 0;
    if (text.back() == '=')
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        const bool last = i + 4 == text.size();
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            int value = Sextet(c);
            if (value < 0) {
                if (!(last && c == '=' && j >= 4 - padding))
                    return false;
                value = 0;
            }
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (!last || padding < 2)
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (!last || padding < 1)
            bytes.push_back(static_cast<std::uint8_t>(group));
    }
    return true;
}

std::string EncodeBase64(const std::uint8_t *bytes, std::size_t count)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < count; i += 3) {
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < count)
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < count)
            group |= bytes[i + 2];
        text += digits[(group >> 18) & 63];
        text += digits[(group >> 12) & 63];
        text += i + 1 < count ? digits[(group >> 6) & 63] : '=';
        text += i + 2 < count ? digits[group & 63] : '=';
    }
    return text;
}

bool VerifyFileSignature(const std::string &filePath, const std::string &signaturePath,
                         std::string_view publicKeyBase64)
{
    std::vector<std::uint8_t> key;
    if (!DecodeBase64(publicKeyBase64, key))
        return false;
    if (key.size() == sizeof spkiPrefix + keyBytes &&
        std::memcmp(key.data(), spkiPrefix, sizeof spkiPrefix) == 0)
        key.erase(key.begin(), key.begin() + sizeof spkiPrefix);
    if (key.size() != keyBytes)
        return false;

    std::vector<std::uint8_t> signature;
    if (!ReadWhole(signaturePath, 4096, signature))
        return false;
    if (signature.size() != signatureBytes) {
        std::vector<std::uint8_t> decoded;
        const std::string_view text(reinterpret_cast<const char *>(signature.data()), signature.size());
        if (!DecodeBase64(text, decoded) || decoded.size() != signatureBytes)
            return false;
        signature.swap(decoded);
    }

    std::vector<std::uint8_t> data;
    if (!ReadWhole(filePath, maxSignedBytes, data))
        return false;

    EvpPkeyPtr pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}
