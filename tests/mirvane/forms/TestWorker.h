#pragma once
// A small install worker for the download form's tests and pictures: it
// "downloads" a few files in 1024-byte reads, reporting status, file name,
// speed and both bars the way the real worker does, tests the cancel event
// between reads, then "installs" and ends with the result it was given.
// It can be held at chosen points so a test sees the form in a known state.
#include "IInstallWorker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class CTestWorker : public IInstallWorker {
public:
    int files = 2;
    std::int64_t bytesPerFile = 64 * 1024;
    std::int64_t reportedLength = 0; // 0: the real length; -1: unknown
    std::chrono::microseconds readDelay{0};
    int result = INSTALL_WORKER_SUCCESS;
    bool throwInstead = false;
    // Hold before the first read until Release() (or the cancel event).
    bool holdBeforeDownload = false;
    // Switch cancelling off after the downloads, then hold until Release().
    bool holdAfterDownload = false;

    std::atomic<bool> started{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> holding{false};
    std::thread::id threadId;

    void Release()
    {
        std::lock_guard lock(m_lock);
        m_released = true;
        m_cv.notify_all();
    }

    int Run(platform::HANDLE cancel, IInstallProgress &progress) override
    {
        threadId = std::this_thread::get_id();
        started = true;
        const int r = Work(cancel, progress);
        ended = true;
        return r;
    }

private:
    bool Cancelled(platform::HANDLE cancel)
    {
        if (platform::WaitForSingleObject(cancel, 0) == platform::WAIT_OBJECT_0) {
            sawCancel = true;
            return true;
        }
        return false;
    }

    // Waits for Release(); true when the cancel event came first.
    bool Hold(platform::HANDLE cancel, bool honourCancel)
    {
        holding = true;
        for (;;) {
            {
                std::unique_lock lock(m_lock);
                if (m_cv.wait_for(lock, std::chrono::milliseconds(5), [this] { return m_released; })) {
                    m_released = false;
                    holding = false;
                    return false;
                }
            }
            if (honourCancel && Cancelled(cancel)) {
                holding = false;
                return true;
            }
        }
    }

    int Work(platform::HANDLE cancel, IInstallProgress &progress)
    {
        if (throwInstead)
            throw std::runtime_error("worker failure");
        const int steps = files * 2 + 1;
        int step = 0;
        progress.SetInstallProgress(0, steps);
        if (holdBeforeDownload && Hold(cancel, true))
            return INSTALL_WORKER_CANCELLED;
        for (int f = 0; f < files; ++f) {
            const std::string name = "파일" + std::to_string(f + 1) + ".cab";
            progress.SetStatusText("설치대상 파일 다운로드 중...");
            progress.SetFileNameText(name);
            const std::int64_t length = reportedLength == 0 ? bytesPerFile : reportedLength;
            progress.SetDownloadProgress(0, length);
            auto windowStart = std::chrono::steady_clock::now();
            std::int64_t windowBytes = 0;
            for (std::int64_t done = 0; done < bytesPerFile;) {
                if (Cancelled(cancel))
                    return INSTALL_WORKER_CANCELLED;
                const std::int64_t read = std::min<std::int64_t>(1024, bytesPerFile - done);
                if (readDelay.count() > 0)
                    std::this_thread::sleep_for(readDelay);
                done += read;
                windowBytes += read;
                const auto now = std::chrono::steady_clock::now();
                const auto elapsedMs =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - windowStart).count();
                if (elapsedMs > 500) {
                    const long speed = static_cast<long>(windowBytes / (elapsedMs / 1000.0));
                    char text[32];
                    std::snprintf(text, sizeof text, "%ldKB", speed >> 10);
                    progress.SetSpeedText(text);
                    windowStart = now;
                    windowBytes = 0;
                }
                progress.SetDownloadProgress(done, length);
            }
            progress.SetInstallProgress(++step, steps);
        }
        progress.SetCancelEnabled(false);
        progress.SetStatusText("받은 파일 설치 중...");
        progress.SetFileNameText("파일 다운로드 완료");
        if (holdAfterDownload)
            Hold(cancel, false);
        for (int f = 0; f < files; ++f)
            progress.SetInstallProgress(++step, steps);
        progress.SetInstallProgress(steps, steps);
        progress.SetStatusText("설치 완료");
        return result;
    }

    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_released = false;
};
