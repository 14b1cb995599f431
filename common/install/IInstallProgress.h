#pragma once
// What the downloader and the install worker report while they run, in the
// terms of the updater's download form: the texts of "Status_Txt",
// "Filename_Txt" and "Speed_Txt", the two bars "Download_Prg" (bytes of the
// current file) and "Install_Prg" (finished steps), and whether
// "Cancel_Btn" still works.
//
// Called on the worker's thread. Implementations that show widgets hand each
// call to the window thread with a queued call; the updater's skinned form,
// the web launcher's progress window, the headless progress line and the
// tests' recorder are the implementations.
#include <cstdint>
#include <string_view>

class IInstallProgress {
public:
    virtual ~IInstallProgress() = default;

    // Texts are UTF-8.
    virtual void SetStatusText(std::string_view text) = 0;
    virtual void SetFileNameText(std::string_view text) = 0;
    virtual void SetSpeedText(std::string_view text) = 0;

    // Bytes of the current file: `total` -1 (length unknown) shows a full
    // bar, 0 an empty one.
    virtual void SetDownloadProgress(std::int64_t done, std::int64_t total) = 0;
    // Finished steps of the whole installation.
    virtual void SetInstallProgress(int done, int total) = 0;

    // The worker switches cancelling off once the downloads are done.
    virtual void SetCancelEnabled(bool enabled) = 0;
};

// Reports nothing (a worker started without a window).
class CNullInstallProgress final : public IInstallProgress {
public:
    void SetStatusText(std::string_view) override {}
    void SetFileNameText(std::string_view) override {}
    void SetSpeedText(std::string_view) override {}
    void SetDownloadProgress(std::int64_t, std::int64_t) override {}
    void SetInstallProgress(int, int) override {}
    void SetCancelEnabled(bool) override {}
};
