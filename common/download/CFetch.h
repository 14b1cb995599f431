#pragma once
// The body side of one fetch: what the downloader does with the final
// answer of a CUrlRequest. For a script or a file it checks the status,
// creates the target and writes the body to it; for a file it also runs the
// loop of 1024-byte pieces with the cancel test before each piece, the speed
// window and the progress texts; for a query it keeps the body as text.
// In every case the body must be exactly as long as announced.
#include "CSpeedWindow.h"
#include "CTargetFile.h"
#include "CUrlRequest.h"

#include "IInstallProgress.h"
#include "platform/Win32Event.h"

#include <cstdint>
#include <optional>
#include <string>

class CResumeNote;
class CSha256;

class CFetch final : public CUrlRequest::ISink {
public:
    enum class Kind { Script, File, Query };

    // Why the fetch stopped before the transfer ended by itself.
    enum class Stop {
        None,
        Cancelled,  // the cancel event was set
        Status,     // the status was not the one wanted
        BadLength,  // a Content-Length that is not a number
        RetryFresh, // the partial file cannot be continued: ask for all of it
        Create,     // the target could not be created (errno in error)
        Write,      // writing failed (errno in error)
        Excess,     // more body than announced
        TooLarge,   // more body than the limit allows
    };

    static constexpr std::size_t pieceBytes = 1024;
    static constexpr const char *downloadingText = "설치대상 파일 다운로드 중...";

    struct Setup {
        Kind kind = Kind::Query;
        std::string url;
        std::string path; // target (script, file)
        std::string name; // shown in "Filename_Txt"
        std::int64_t maxBytes = 0;
        std::int64_t resumeFrom = 0; // file: partial bytes to go on from
        std::string validator;       // file: the note's validator, sent as If-Range
        const CResumeNote *note = nullptr;
        IInstallProgress *progress = nullptr;
        platform::HANDLE cancel = nullptr;
        CSha256 *digest = nullptr;
    };

    explicit CFetch(Setup setup) : m_setup(std::move(setup)) {}

    bool OnResponse(const CUrlRequest::Response &response) override;
    bool OnBody(const char *data, std::size_t bytes) override;
    bool ShouldStop() override;

    // Ends the fetch after the transfer: flushes and closes the target.
    void Finish();

    Stop StopReason() const { return m_stop; }
    int Error() const { return m_error; }
    long Status() const { return m_status; }
    bool Resumed() const { return m_resumed; }
    // Body bytes announced for this answer (-1: not announced) and received.
    std::int64_t Announced() const { return m_announced; }
    std::int64_t Received() const { return m_received; }
    bool Short() const { return m_announced >= 0 && m_received < m_announced; }
    const std::string &Body() const { return m_body; }

private:
    bool Cancelled();
    bool StartResumed(const CUrlRequest::Response &response);
    bool StartTarget(const CUrlRequest::Response &response);
    bool Piece(const char *data, std::size_t bytes);
    void ReportProgress(bool force);

    Setup m_setup;
    Stop m_stop = Stop::None;
    int m_error = 0;
    long m_status = 0;
    bool m_resumed = false;
    std::int64_t m_announced = -1;
    std::int64_t m_received = 0;
    std::int64_t m_done = 0;   // bytes of the file so far (with a resumed part)
    std::int64_t m_total = -1; // the file's length for "Download_Prg"
    std::int64_t m_shownDone = -1;
    int m_shownPercent = -1;
    std::optional<CSpeedWindow> m_speed;
    CTargetFile m_target;
    std::string m_body;
};
