#include "CDownloader.h"

#include "CFetch.h"
#include "CResumeNote.h"
#include "CSha256.h"
#include "CTargetFile.h"
#include "CUrlRequest.h"

#include "platform/MessageBox.h"
#include "platform/ShellFolders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace {

// How a fetch failed, in the terms of the calls its messages name.
struct Failure {
    enum What { None, Cancel, Open, OpenUrl, QueryInfo, Create, Write, Read } what = None;
    long code = 0;      // curl code, HTTP status or errno
    std::string detail; // for Read: what went wrong
};

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...)
{
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// A name the temporary folder can hold as a file of its own.
bool UsableName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos;
}

Failure Classify(const CUrlRequest::Result &result, const CFetch &fetch)
{
    using Stop = CFetch::Stop;
    switch (fetch.StopReason()) {
    case Stop::Cancelled:
        return {Failure::Cancel};
    case Stop::Status:
        return {Failure::QueryInfo, fetch.Status()};
    case Stop::BadLength:
        return {Failure::QueryInfo, CURLE_WEIRD_SERVER_REPLY};
    case Stop::RetryFresh: // only when a fresh request failed the same way
        return {Failure::QueryInfo, fetch.Status()};
    case Stop::Create:
        return {Failure::Create, fetch.Error()};
    case Stop::Write:
        return {Failure::Write, fetch.Error()};
    case Stop::Excess:
        return {Failure::Read, CURLE_WEIRD_SERVER_REPLY,
                Format("The server sent more than the %lld bytes it announced.",
                       static_cast<long long>(fetch.Announced()))};
    case Stop::TooLarge:
        return {Failure::Read, CURLE_FILESIZE_EXCEEDED, "The answer is larger than a download may be."};
    case Stop::None:
        break;
    }
    if (result.initFailed)
        return {Failure::Open, result.code};
    if (result.sinkFailed)
        return {Failure::Read, result.code, "The download was stopped by an internal failure."};
    if (result.code != CURLE_OK)
        return {result.responded ? Failure::Read : Failure::OpenUrl, result.code, result.errorText};
    if (fetch.Short())
        return {Failure::Read, CURLE_PARTIAL_FILE,
                Format("The connection closed after %lld of the %lld bytes announced.",
                       static_cast<long long>(fetch.Received()), static_cast<long long>(fetch.Announced()))};
    return {};
}

std::string Message(const Failure &failure, const std::string &path)
{
    const int code = static_cast<int>(failure.code);
    switch (failure.what) {
    case Failure::Open:
        return Format("Error Code : %d, InternetOpen Failed!", code);
    case Failure::OpenUrl:
        return Format("Error Code : %d, InternetOpenUrl Failed!", code);
    case Failure::QueryInfo:
        return Format("Error Code : %d, HttpQueryInfo Failed!", code);
    case Failure::Create:
        return Format("FileName : %s, Error Code : %d, CreateFile Failed!", path.c_str(), code);
    case Failure::Write:
        return Format("File Name : %s, Error Code : %d, WriteFile Failed!", path.c_str(), code);
    case Failure::Read:
        return Format("Error Code : %d, InternetReadFile Failed!", code) +
               (failure.detail.empty() ? std::string() : "\n\n" + failure.detail);
    case Failure::None:
    case Failure::Cancel:
        break;
    }
    return std::string();
}

CUrlRequest::Options RequestOptions(const CDownloader::Limits &limits, const char *agent, long totalTimeoutMs)
{
    CUrlRequest::Options options;
    options.agent = agent;
    options.connectTimeoutMs = limits.connectTimeoutMs;
    options.stallTimeoutSeconds = limits.stallTimeoutSeconds;
    options.totalTimeoutMs = totalTimeoutMs;
    options.maxRedirects = limits.maxRedirects;
    options.followRedirect = limits.followRedirect;
    return options;
}

std::string Trimmed(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The size of the partial download to go on from, or 0 to start over: only
// a file of this user's own that nobody else may write is gone on from.
std::int64_t PartialBytes(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !CTargetFile::IsOwnPrivateFile(st))
        return 0;
    return st.st_size;
}

} // namespace

std::string CDownloader::TargetName(const std::string &url)
{
    const std::size_t slash = url.rfind('/');
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

std::string CDownloader::TargetFolder()
{
    return platform::GetTempPath();
}

bool CDownloader::FetchScript(std::string &url) const
{
    const std::string name = TargetName(url);
    if (!UsableName(name))
        return false;
    const std::string folder = TargetFolder();
    if (folder.empty())
        return false;
    const std::string path = folder + name;
    const CResumeNote note(folder, name);

    CFetch::Setup setup;
    setup.kind = CFetch::Kind::Script;
    setup.url = url;
    setup.path = path;
    setup.name = name;
    setup.maxBytes = limits.maxScriptBytes;
    setup.note = &note;
    CFetch fetch(std::move(setup));
    const CUrlRequest::Result result =
        CUrlRequest::Perform(url, RequestOptions(limits, "Script", limits.scriptTimeoutMs), fetch);
    fetch.Finish();
    const Failure failure = Classify(result, fetch);
    if (failure.what == Failure::Read && showMessages)
        platform::ShowMessageBox(Message(failure, path), m_caption,
                                 platform::MB_OK | platform::MB_ICONEXCLAMATION);
    if (failure.what != Failure::None)
        return false;
    url = path;
    return true;
}

std::string CDownloader::FetchQuery(const std::string &url) const
{
    CFetch::Setup setup;
    setup.kind = CFetch::Kind::Query;
    setup.url = url;
    setup.maxBytes = limits.maxQueryBytes;
    CFetch fetch(std::move(setup));
    const CUrlRequest::Result result =
        CUrlRequest::Perform(url, RequestOptions(limits, "Query", limits.queryTimeoutMs), fetch);
    fetch.Finish();
    if (Classify(result, fetch).what != Failure::None)
        return std::string();
    return fetch.Body();
}

std::string CDownloader::FetchFile(CDownloadItem &item, CInstallSteps &steps,
                                   platform::HANDLE cancelEvent) const
{
    item.localPath.clear();
    const std::string name = TargetName(item.url);
    std::string refusal;
    const std::string folder = platform::GetTempPath(&refusal);
    const std::string path = folder + name;
    const auto show = [this](const std::string &text) {
        if (showMessages)
            platform::ShowMessageBox(text, m_caption, platform::MB_OK | platform::MB_ICONEXCLAMATION);
    };
    if (folder.empty()) {
        show(refusal);
        return outcomeError;
    }
    if (!UsableName(name)) {
        show(Message({Failure::Create, EINVAL}, path));
        return outcomeError;
    }

    const CResumeNote note(folder, name);
    const std::string wantedDigest = Trimmed(item.sha256);
    std::string validator;
    std::int64_t resumeFrom = note.Matches(item.url, &validator) ? PartialBytes(path) : 0;
    Failure failure;
    CSha256 digest;
    for (;;) {
        digest = CSha256();
        CFetch::Setup setup;
        setup.kind = CFetch::Kind::File;
        setup.url = item.url;
        setup.path = path;
        setup.name = name;
        setup.maxBytes = limits.maxFileBytes;
        setup.resumeFrom = resumeFrom;
        setup.validator = validator;
        setup.note = &note;
        setup.progress = &steps.Progress();
        setup.cancel = cancelEvent;
        setup.digest = wantedDigest.empty() ? nullptr : &digest;
        CFetch fetch(std::move(setup));
        CUrlRequest::Options options = RequestOptions(limits, "Download", 0);
        if (resumeFrom > 0) {
            options.rangeFrom = resumeFrom;
            options.ifRange = validator;
        }
        const CUrlRequest::Result result = CUrlRequest::Perform(item.url, options, fetch);
        fetch.Finish();
        if (fetch.StopReason() == CFetch::Stop::RetryFresh && resumeFrom > 0) {
            resumeFrom = 0; // the server cannot continue this partial file
            continue;
        }
        failure = Classify(result, fetch);
        break;
    }

    if (failure.what == Failure::Cancel)
        return outcomeCancel;
    if (failure.what != Failure::None) {
        show(Message(failure, path));
        return outcomeError;
    }
    if (!wantedDigest.empty() && !CSha256::SameHex(digest.Hex(), wantedDigest)) {
        // A complete file with the wrong bytes is of no use, not even to go
        // on from: it goes, and the next fetch starts over.
        ::unlink(path.c_str());
        note.Remove();
        show(Format("FileName : %s, SHA256 Check Failed!", path.c_str()));
        return outcomeError;
    }
    note.Remove();
    item.localPath = path;
    steps.Advance();
    return std::string();
}
