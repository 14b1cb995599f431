#include "CWebScript.h"

#include "platform/Profile.h"

#include <strings.h>

CWebScript::Header CWebScript::CheckHeader() const
{
    if (::strcasecmp(Value("script", "Signature").c_str(), kSignature) != 0)
        return Header::BadSignature;
    if (Value("script", "Version") != kVersion)
        return Header::BadVersion;
    return Header::Good;
}

std::string CWebScript::Value(std::string_view section, std::string_view key,
                              std::string_view defaultValue) const
{
    return platform::GetPrivateProfileString(section, key, defaultValue, kValueBuffer, m_path);
}

bool CWebScript::IsRelativeFolder(std::string_view name)
{
    if (name.empty())
        return true;
    if (name.front() == '/' || name.front() == '\\' || (name.size() >= 2 && name[1] == ':'))
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = name.find_first_of("/\\", start);
        const std::string_view part = name.substr(start, end == std::string_view::npos ? end : end - start);
        if (part == ".." || part == "." || part.empty())
            return false;
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return true;
}
