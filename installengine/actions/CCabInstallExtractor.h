#pragma once
// Extracts a "cab" download into its destination folder and remembers every
// file it put there, so the worker can make the programs among them
// runnable: cabinets carry no file modes.
#include "CCabExtractor.h"

#include <string>
#include <vector>

namespace installengine {

class CCabInstallExtractor : public CCabExtractor {
public:
    // The files extracted by the last Extract(), in their order.
    const std::vector<std::string> &ExtractedPaths() const { return m_paths; }

    BOOL Extract(const std::string &cabinetPath, int flag)
    {
        m_paths.clear();
        return CCabExtractor::Extract(cabinetPath, flag);
    }

protected:
    bool OnFileExtracted(const std::string &name, const std::string &path) override
    {
        m_paths.push_back(path);
        return CCabExtractor::OnFileExtracted(name, path);
    }

private:
    std::vector<std::string> m_paths;
};

} // namespace installengine
