#include "ComBstr.h"

#include <QString>

#include <cstdlib>
#include <cstring>

BSTR SysAllocStringLen(const OLECHAR *text, UINT length)
{
    if (length > (0x7FFFFFFFu - sizeof(std::uint32_t)) / sizeof(OLECHAR) - 1)
        return nullptr;
    const std::uint32_t bytes = static_cast<std::uint32_t>(length * sizeof(OLECHAR));
    auto *block = static_cast<unsigned char *>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (block == nullptr)
        return nullptr;
    std::memcpy(block, &bytes, sizeof bytes);
    auto *str = reinterpret_cast<OLECHAR *>(block + sizeof(std::uint32_t));
    if (text != nullptr)
        std::memcpy(str, text, bytes);
    else
        std::memset(str, 0, bytes);
    str[length] = 0;
    return str;
}

BSTR SysAllocString(const OLECHAR *text)
{
    if (text == nullptr)
        return nullptr;
    UINT length = 0;
    while (text[length] != 0)
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text)
{
    if (text != nullptr)
        std::free(reinterpret_cast<unsigned char *>(text) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR text)
{
    if (text == nullptr)
        return 0;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<unsigned char *>(text) - sizeof(std::uint32_t), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

std::string BstrToUtf8(BSTR text)
{
    if (text == nullptr)
        return std::string();
    return QString::fromUtf16(text, static_cast<qsizetype>(SysStringLen(text))).toStdString();
}

BSTR Utf8ToBstr(std::string_view text)
{
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(s.utf16()), static_cast<UINT>(s.size()));
}
