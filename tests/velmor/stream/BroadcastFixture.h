#pragma once
// A broadcaster's stream as the main window wires it: a CNetWrite and its
// CSamplePath, the process log in a temporary folder, and a feeder thread
// that plays the capture graphs (frames at 15 per second, one-second audio
// buffers) through the two sinks.
#include "CLogFile.h"
#include "CNetWrite.h"
#include "CSamplePath.h"
#include "StreamTestUtil.h"
#include "TestDir.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

namespace streamtest {

inline int Count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class Broadcast : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_log.Open(m_dir.file("velmor.log").c_str());
        SetAppLog(&m_log);
        g_nClosing = 0;
        g_nLive = 0;
        m_tone.resize(CSamplePath::kAudioBytesPerSecond);
        for (std::size_t i = 0; i + 3 < m_tone.size(); i += 4) {
            const auto v = static_cast<std::int16_t>(
                8000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i / 4) / 32000.0));
            m_tone[i] = m_tone[i + 2] = static_cast<unsigned char>(v & 0xFF);
            m_tone[i + 1] = m_tone[i + 3] = static_cast<unsigned char>((v >> 8) & 0xFF);
        }
    }
    void TearDown() override
    {
        StopBroadcast();
        SetAppLog(nullptr);
        g_nClosing = 0;
        g_nLive = 0;
    }

    // InitWriter + StartNetworkStream on a free port.
    HRESULT StartBroadcast()
    {
        m_path.LoadPauseImage();
        HRESULT hr = m_net.InitWriter(&m_path);
        if (SUCCEEDED(hr))
            hr = m_net.StartNetworkStream(0);
        m_port = static_cast<int>(m_net.ListenPort());
        return hr;
    }

    // What the main window does when it closes: closing flag, capture
    // stopped, writer released.
    void StopBroadcast()
    {
        g_nClosing = 1;
        StopFeeding();
        m_net.ReleaseWriter();
    }

    void StartFeeding(bool withAudio = true)
    {
        m_feeding = true;
        m_feeder = std::thread([this, withAudio] {
            using namespace std::chrono;
            const auto start = steady_clock::now();
            auto nextAudio = start + milliseconds(1000);
            for (int n = 0; m_feeding; ++n) {
                std::this_thread::sleep_until(start + microseconds(n * 66667));
                if (!m_feeding)
                    break;
                std::vector<unsigned char> frame;
                {
                    std::lock_guard<std::mutex> lock(m_frameLock);
                    frame = m_frame;
                }
                if (!m_cameraStopped)
                    VideoSampleSink(0.0, frame.data(), static_cast<long>(frame.size()));
                if (withAudio && steady_clock::now() >= nextAudio) {
                    AudioSampleSink(0.0, m_tone.data(), static_cast<long>(m_tone.size()));
                    nextAudio += milliseconds(1000);
                }
            }
        });
    }
    void StopFeeding()
    {
        m_feeding = false;
        if (m_feeder.joinable())
            m_feeder.join();
    }
    // A camera that stops delivering (unplugged, busy) while the sound goes on.
    void StopCamera(bool stopped) { m_cameraStopped = stopped; }
    void SetFrame(std::vector<unsigned char> frame)
    {
        std::lock_guard<std::mutex> lock(m_frameLock);
        m_frame = std::move(frame);
    }
    std::string Log() { return platform::AnsiToUtf8(TestDir::Read(m_dir.file("velmor.log"))); }
    static int Count(const std::string &text, const std::string &what)
    {
        return streamtest::Count(text, what);
    }

    // Ends the broadcast when it goes out of scope: declared after an object
    // the write thread uses (an observer), it stops the thread before that
    // object dies, even when an assertion leaves the test early.
    struct StopsBroadcast {
        explicit StopsBroadcast(Broadcast &b) : broadcast(b) {}
        ~StopsBroadcast() { broadcast.StopBroadcast(); }
        Broadcast &broadcast;
    };

    TestDir m_dir{"stream"};
    CLogFile m_log;
    CNetWrite m_net;
    CSamplePath m_path{m_net};
    int m_port = 0;
    std::vector<unsigned char> m_tone;

private:
    std::atomic<bool> m_feeding{false};
    std::atomic<bool> m_cameraStopped{false};
    std::thread m_feeder;
    std::mutex m_frameLock;
    std::vector<unsigned char> m_frame = SolidFrame(200, 30, 30);
};

} // namespace streamtest
