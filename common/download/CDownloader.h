#pragma once
// The HTTP downloader of the updater and the web launcher: the script fetch
// (agent "Script"), the file fetch (agent "Download") and the query fetch
// (agent "Query"). Every request asks the server afresh (no cache) and must
// be answered with status 200; downloads go to the temporary folder under
// the last "/"-separated segment of their URL.
//
// Failures are shown in a message box captioned with the caller's caption
// ("Mirvane" for the updater, "펠룬" for the web launcher) in the forms
// "Error Code : %d, InternetOpenUrl Failed!" and the like, and end the fetch
// with its result: false, "error" or the empty text. See README.md.
//
// A CDownloader holds settings only; its fetches may run on any thread, also
// several at once.
#include "CDownloadItem.h"

#include "CInstallSteps.h"
#include "platform/Win32Event.h"

#include <cstdint>
#include <functional>
#include <string>

class CDownloader {
public:
    // Outcomes of the file fetch.
    static constexpr const char *outcomeCancel = "cancel";
    static constexpr const char *outcomeError = "error";

    // Bounds that keep a broken or hostile server from holding a fetch
    // forever or filling the disk.
    struct Limits {
        long connectTimeoutMs = 15000;
        long stallTimeoutSeconds = 30; // nothing received for this long: failure
        long scriptTimeoutMs = 60000;  // a whole script fetch
        long queryTimeoutMs = 30000;   // a whole query fetch
        long maxRedirects = 5;
        std::int64_t maxScriptBytes = 16 * 1024 * 1024;
        std::int64_t maxQueryBytes = 1024 * 1024;
        std::int64_t maxFileBytes = std::int64_t(4) * 1024 * 1024 * 1024;
        // When set, redirects are followed only to the URLs it accepts (the
        // web launcher keeps its script fetches on the service site); any
        // other redirect fails the fetch before its request goes out.
        std::function<bool(const std::string &url)> followRedirect;
    };

    explicit CDownloader(std::string messageCaption) : m_caption(std::move(messageCaption)) {}

    Limits limits;
    // False: no fetch shows a message box; the caller reports the failure in
    // its own words (the updater's script fetches and its patch download).
    bool showMessages = true;

    // Fetches a script. On success `url` is replaced by the local path and
    // true returned. A failed read of the body shows a message box; other
    // failures are silent (the caller reports them as its "script" outcome).
    bool FetchScript(std::string &url) const;

    // Fetches one file with progress on `steps.Progress()` and, once it is
    // complete (and its digest matches), one step of `steps`. Returns the
    // empty text on success (item.localPath set), "cancel" when
    // `cancelEvent` (a manual-reset event; null: never) was set, "error" on
    // any failure after its message box. A partial download stays in the
    // temporary folder and is resumed by the next fetch of the same URL when
    // the server allows it.
    std::string FetchFile(CDownloadItem &item, CInstallSteps &steps, platform::HANDLE cancelEvent) const;

    // Fetches a short answer (the launch-item counters): its text, or the
    // empty text on any failure. Nothing is shown and no file is written.
    std::string FetchQuery(const std::string &url) const;

    // The target's file name: the URL's last "/"-separated segment.
    static std::string TargetName(const std::string &url);
    // The folder downloads go to (platform::GetTempPath()), with its
    // trailing "/"; empty when it may not be used, and then nothing is
    // fetched.
    static std::string TargetFolder();

private:
    std::string m_caption;
};
