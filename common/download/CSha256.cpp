#include "CSha256.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

CSha256::CSha256() : m_ctx(EVP_MD_CTX_new())
{
    m_ok = m_ctx && EVP_DigestInit_ex(m_ctx.get(), EVP_sha256(), nullptr) == 1;
}

void CSha256::Update(const void *data, std::size_t bytes)
{
    if (m_ok && bytes > 0)
        m_ok = EVP_DigestUpdate(m_ctx.get(), data, bytes) == 1;
}

std::string CSha256::Hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_ok || EVP_DigestFinal_ex(m_ctx.get(), digest, &length) != 1)
        return std::string();
    m_ok = false;
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 0xF];
    }
    return hex;
}

std::string CSha256::OfFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    CSha256 digest;
    char buffer[64 * 1024];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::string();
        }
        digest.Update(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return digest.Hex();
}

bool CSha256::SameHex(std::string_view a, std::string_view b)
{
    if (a.size() != b.size() || a.empty())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
