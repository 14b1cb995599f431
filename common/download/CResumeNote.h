#pragma once
// The note beside a partly downloaded file that says where its bytes came
// from: a hidden file ".NAME.resume" in the temporary folder holding the URL
// and the server's validator of that file (its ETag or Last-Modified). A
// later download of the same URL goes on from the partial file's end when
// the server confirms the validator (If-Range answered with 206); a download
// of another URL, one without a note or without a validator, starts over.
// The note is removed when the download completes.
#include <string>

class CResumeNote {
public:
    // The note for the target `name` in `folder` (which ends with "/").
    CResumeNote(const std::string &folder, const std::string &name);

    const std::string &Path() const { return m_path; }

    // The validator stored for `url` when the note is for that URL, holds a
    // validator, and is this user's own file that nobody else may write.
    bool Matches(const std::string &url, std::string *validator) const;
    // Writes the note; false when it cannot be (resuming then just starts over).
    bool Write(const std::string &url, const std::string &validator) const;
    void Remove() const;

private:
    std::string m_path;
};
