#include "CFetch.h"

#include "CResumeNote.h"

#include <chrono>
#include <cstdio>

namespace {

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// "bytes FIRST-LAST/LENGTH"; false when it is not that form.
bool ParseContentRange(const std::string &text, std::int64_t &first, std::int64_t &last, std::int64_t &length)
{
    long long f = 0, l = 0, n = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "bytes %lld-%lld/%lld%n", &f, &l, &n, &used) != 3 ||
        static_cast<std::size_t>(used) != text.size())
        return false;
    first = f;
    last = l;
    length = n;
    return true;
}

std::string Validator(const CUrlRequest::Response &response)
{
    return !response.etag.empty() ? response.etag : response.lastModified;
}

} // namespace

bool CFetch::Cancelled()
{
    if (m_setup.cancel && platform::WaitForSingleObject(m_setup.cancel, 0) == platform::WAIT_OBJECT_0) {
        m_stop = Stop::Cancelled;
        return true;
    }
    return false;
}

bool CFetch::ShouldStop()
{
    return m_setup.kind == Kind::File && Cancelled();
}

bool CFetch::OnResponse(const CUrlRequest::Response &response)
{
    m_status = response.status;
    if (!response.contentLengthValid) {
        m_stop = Stop::BadLength;
        return false;
    }
    if (m_setup.kind == Kind::File && m_setup.resumeFrom > 0) {
        if (m_status == 206)
            return StartResumed(response);
        if (m_status == 416) {
            m_stop = Stop::RetryFresh;
            return false;
        }
    }
    if (m_status != 200) {
        m_stop = Stop::Status;
        return false;
    }
    m_announced = response.contentLength;
    m_total = response.contentLength;
    if (m_announced > m_setup.maxBytes) {
        m_stop = Stop::TooLarge;
        return false;
    }
    return StartTarget(response);
}

// A 206 answer continues the partial file only when it starts exactly at its
// end, runs to the end of the whole file, and names no other validator than
// the one the partial bytes came with.
bool CFetch::StartResumed(const CUrlRequest::Response &response)
{
    std::int64_t first = 0, last = 0, length = 0;
    const std::string answered = Validator(response);
    if (!ParseContentRange(response.contentRange, first, last, length) || first != m_setup.resumeFrom ||
        last != length - 1 || length <= first ||
        (response.contentLength >= 0 && response.contentLength != length - first) ||
        (!answered.empty() && answered != m_setup.validator)) {
        m_stop = Stop::RetryFresh;
        return false;
    }
    if (length > m_setup.maxBytes) {
        m_stop = Stop::TooLarge;
        return false;
    }
    if (const int err = m_target.OpenToResume(m_setup.path, first, m_setup.digest); err != 0) {
        m_stop = Stop::RetryFresh;
        return false;
    }
    m_resumed = true;
    m_announced = length - first;
    m_total = length;
    m_done = first;
    return StartTarget(response);
}

bool CFetch::StartTarget(const CUrlRequest::Response &response)
{
    if (m_setup.kind == Kind::Query)
        return true;
    if (!m_target.IsOpen()) {
        if (m_setup.note)
            m_setup.note->Remove();
        if (const int err = m_target.Create(m_setup.path); err != 0) {
            m_stop = Stop::Create;
            m_error = err;
            return false;
        }
        if (m_setup.kind == Kind::File && m_setup.note)
            m_setup.note->Write(m_setup.url, Validator(response));
    }
    m_target.SetDigest(m_setup.digest);
    if (m_setup.kind != Kind::File)
        return true;

    IInstallProgress &progress = *m_setup.progress;
    progress.SetStatusText(downloadingText);
    progress.SetFileNameText(m_setup.name);
    ReportProgress(true);
    m_speed.emplace(NowMs());
    return true;
}

bool CFetch::OnBody(const char *data, std::size_t bytes)
{
    if (m_setup.kind == Kind::Query) {
        if (m_announced >= 0 && m_received + static_cast<std::int64_t>(bytes) > m_announced) {
            m_stop = Stop::Excess;
            return false;
        }
        if (m_received + static_cast<std::int64_t>(bytes) > m_setup.maxBytes) {
            m_stop = Stop::TooLarge;
            return false;
        }
        m_body.append(data, bytes);
        m_received += static_cast<std::int64_t>(bytes);
        return true;
    }
    // The file loop: at most 1024 bytes per read, the cancel test before
    // each one.
    while (bytes > 0) {
        const std::size_t take = bytes < pieceBytes ? bytes : pieceBytes;
        if (!Piece(data, take))
            return false;
        data += take;
        bytes -= take;
    }
    return true;
}

bool CFetch::Piece(const char *data, std::size_t bytes)
{
    const bool isFile = m_setup.kind == Kind::File;
    if (isFile && Cancelled())
        return false;
    const auto n = static_cast<std::int64_t>(bytes);
    if (m_announced >= 0 && m_received + n > m_announced) {
        m_stop = Stop::Excess;
        return false;
    }
    if (m_done + n > m_setup.maxBytes) {
        m_stop = Stop::TooLarge;
        return false;
    }
    if (const int err = m_target.Write(data, bytes); err != 0) {
        m_stop = Stop::Write;
        m_error = err;
        return false;
    }
    m_received += n;
    m_done += n;
    if (!isFile)
        return true;

    const std::int64_t speed = m_speed->Add(n, NowMs());
    if (speed >= 0) {
        m_setup.progress->SetStatusText(downloadingText);
        if (speed > 0)
            m_setup.progress->SetSpeedText(CSpeedWindow::FormatSpeed(speed));
    }
    ReportProgress(speed >= 0);
    return true;
}

// "Download_Prg": reported when its whole percentage changes (or, for a file
// of unknown length, with each speed window), not for every piece, so a
// window's queued updates stay few.
void CFetch::ReportProgress(bool force)
{
    const int percent = m_total > 0 ? static_cast<int>(m_done * 100 / m_total) : -1;
    if (!force && (percent == m_shownPercent || m_total <= 0))
        return;
    if (m_done == m_shownDone && percent == m_shownPercent)
        return;
    m_shownPercent = percent;
    m_shownDone = m_done;
    m_setup.progress->SetDownloadProgress(m_done, m_total);
}

void CFetch::Finish()
{
    if (!m_target.IsOpen())
        return;
    const int err = m_target.Close();
    if (err != 0 && m_stop == Stop::None) {
        m_stop = Stop::Write;
        m_error = err;
    }
    if (m_setup.kind == Kind::File && m_stop == Stop::None)
        ReportProgress(true);
}
