// libFuzzer target for cabinet extraction: each input is written as a
// cabinet file into a private folder and extracted into a folder beside it.
// Besides the sanitizers' checks it stops when anything is written outside
// the destination, or when a file there is not one the extractor reported
// as extracted (a temporary file left behind).
#include "CCabExtractor.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace fs = std::filesystem;

// Diagnostics of the extractor are dropped here: a failure per input would
// bury the fuzzer's own output.
void CabLog(int, const char *, ...) {}

namespace {

// A private folder for one input, removed afterwards.
class InputFolder {
public:
    InputFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "cabfuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_path = pattern;
    }
    ~InputFolder()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path &path() const { return m_path; }

private:
    fs::path m_path;
};

// Remembers every file reported as in place.
class ReportingExtractor : public CCabExtractor {
public:
    std::set<std::string> extracted;

protected:
    bool OnFileExtracted(const std::string &, const std::string &path) override
    {
        extracted.insert(fs::path(path).lexically_normal().string());
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const InputFolder folder;
    const fs::path &root = folder.path();
    const fs::path cab = root / "in.cab";
    const fs::path out = root / "out";
    {
        std::ofstream file(cab, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    ReportingExtractor extractor;
    extractor.SetDestination(out.string());
    const BOOL ok = extractor.Extract(cab.string(), 1);
    if ((ok != 0) == (extractor.GetError().fError != 0))
        std::abort();
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path relative = fs::relative(it->path(), root);
        const std::string top = relative.begin()->string();
        if (top != "in.cab" && top != "out") {
            std::fprintf(stderr, "written outside the destination: %s\n", relative.c_str());
            std::abort();
        }
        std::error_code typeError;
        if (top == "out" && it->is_regular_file(typeError) &&
            !extractor.extracted.count(it->path().lexically_normal().string())) {
            std::fprintf(stderr, "left behind: %s\n", relative.c_str());
            std::abort();
        }
    }
    return 0;
}
