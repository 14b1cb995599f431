#include "CCabFileExtractor.h"

#include <strings.h>

#include <cerrno>
#include <utility>

CCabFileExtractor::CCabFileExtractor(std::string fileName) : m_strFileName(std::move(fileName)) {}

BOOL CCabFileExtractor::Extract(const std::string &cabinetPath, int flag)
{
    m_strExtractedPath.clear();
    m_bTaken = false;
    if (!CCabExtractor::Extract(cabinetPath, flag))
        return 0;
    if (m_strExtractedPath.empty()) {
        SetError(FDIERROR_TARGET_FILE, ENOENT);
        return 0;
    }
    return 1;
}

bool CCabFileExtractor::NamesFile(const std::string &stored, const std::string &wanted)
{
    std::string whole;
    if (wanted.empty() || !RelativeName(stored, whole))
        return false;
    std::string name = wanted;
    for (char &c : name)
        if (c == '\\')
            c = '/';
    if (::strcasecmp(whole.c_str(), name.c_str()) == 0)
        return true;
    const std::size_t slash = whole.rfind('/');
    return slash != std::string::npos && ::strcasecmp(whole.c_str() + slash + 1, name.c_str()) == 0;
}

std::string CCabFileExtractor::OnCopyFile(const std::string &name, std::uint32_t bytes)
{
    if (m_bTaken || !NamesFile(name, m_strFileName))
        return {};
    m_bTaken = true;
    return CCabExtractor::OnCopyFile(name, bytes);
}

bool CCabFileExtractor::OnFileExtracted(const std::string &name, const std::string &path)
{
    m_strExtractedPath = path;
    return CCabExtractor::OnFileExtracted(name, path);
}
