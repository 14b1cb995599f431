#pragma once
// Takes one named file out of a cabinet: the install worker's way to compare
// the file a cabinet delivers with the one already installed. Every other
// file of the cabinet is passed over through the copy-file notification.
//
//   CCabFileExtractor one("Velmor.exe");
//   one.SetDestination(tempFolder);
//   if (!one.Extract(cabPath, 1)) ... // fails too when the cabinet lacks it
//   const std::string &path = one.GetExtractedPath();
#include "CCabExtractor.h"

#include <string>

class CCabFileExtractor : public CCabExtractor {
public:
    // `fileName` is matched without regard to letter case, against the
    // whole stored name ("bin\Velmor.exe") or its last part ("Velmor.exe");
    // the first file that matches is taken.
    explicit CCabFileExtractor(std::string fileName);

    // Extracts the named file; 1 when it is in place, 0 otherwise (a
    // cabinet without such a file fails with FDIERROR_TARGET_FILE, errno
    // ENOENT).
    BOOL Extract(const std::string &cabinetPath, int flag);

    // Where the file went; empty until it is in place.
    const std::string &GetExtractedPath() const { return m_strExtractedPath; }

    // Whether `stored` (a stored name, "\" or "/" separated) names `wanted`.
    static bool NamesFile(const std::string &stored, const std::string &wanted);

protected:
    std::string OnCopyFile(const std::string &name, std::uint32_t bytes) override;
    bool OnFileExtracted(const std::string &name, const std::string &path) override;

private:
    std::string m_strFileName;
    std::string m_strExtractedPath;
    bool m_bTaken = false;
};
