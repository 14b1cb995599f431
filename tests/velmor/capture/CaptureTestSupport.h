#pragma once
// Shared helpers of the capture tests: a log file the graphs write into, and
// sinks that collect what the graphs deliver on their streaming threads.
#include "CLogFile.h"
#include "TestDir.h"

#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Opens velmor.log in a temporary folder as the process log for one test.
class LogCapture {
public:
    LogCapture() : m_dir("capture-log")
    {
        m_log.Open(m_dir.file("velmor.log").c_str());
        SetAppLog(&m_log);
    }
    ~LogCapture() { SetAppLog(nullptr); }

    // The log so far, back in UTF-8.
    std::string Text() const { return platform::AnsiToUtf8(TestDir::Read(m_dir.path() / "velmor.log")); }
    bool Contains(const std::string &utf8) const { return Text().find(utf8) != std::string::npos; }
    std::size_t Count(const std::string &utf8) const
    {
        const std::string all = Text();
        std::size_t n = 0;
        for (std::size_t at = all.find(utf8); at != std::string::npos; at = all.find(utf8, at + 1))
            ++n;
        return n;
    }

private:
    TestDir m_dir;
    CLogFile m_log;
};

// Collects the buffers a sink receives. One collector per sink function
// (video and audio), since a SampleSink carries no context.
struct SampleCollector {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::vector<unsigned char>> buffers; // the first few, copied
    std::vector<long> sizes;
    std::vector<double> times;
    long calls = 0;
    bool allMultiplesOf4 = true;

    void Reset()
    {
        std::lock_guard<std::mutex> lock(mutex);
        buffers.clear();
        sizes.clear();
        times.clear();
        calls = 0;
        allMultiplesOf4 = true;
    }
    void Add(double time, const unsigned char *data, long bytes)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++calls;
        if (bytes % 4 != 0)
            allMultiplesOf4 = false;
        if (buffers.size() < 8)
            buffers.emplace_back(data, data + bytes);
        if (sizes.size() < 1000) {
            sizes.push_back(bytes);
            times.push_back(time);
        }
        arrived.notify_all();
    }
    bool WaitFor(long count, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, timeout, [&] { return calls >= count; });
    }
    long Calls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

inline SampleCollector &VideoFrames()
{
    static SampleCollector c;
    return c;
}
inline SampleCollector &AudioBuffers()
{
    static SampleCollector c;
    return c;
}
inline void VideoSink(double time, const unsigned char *data, long bytes)
{
    VideoFrames().Add(time, data, bytes);
}
inline void AudioSink(double time, const unsigned char *data, long bytes)
{
    AudioBuffers().Add(time, data, bytes);
}
