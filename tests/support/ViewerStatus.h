#pragma once
// What a viewer Velmor.exe reports through VELMOR_STATUS_FILE ("key=value"
// lines, rewritten twice a second), and a watch for steady playing.
#include "TestDir.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

inline std::map<std::string, std::string> ReadViewerStatus(const std::filesystem::path &file)
{
    std::map<std::string, std::string> status;
    std::istringstream in(TestDir::Read(file.string()));
    for (std::string line; std::getline(in, line);)
        if (const std::size_t eq = line.find('='); eq != std::string::npos)
            status[line.substr(0, eq)] = line.substr(eq + 1);
    return status;
}

// Watches the status file until the viewer has played for `seconds` on end,
// at least `perSecond` pictures a second, without stopping to buffer in
// between (its buffering count stays) and without leaving the playing state
// whenever it is read. Call Steady() repeatedly, a few times a second.
class SteadyPlayWatch {
public:
    explicit SteadyPlayWatch(std::filesystem::path file, int seconds = 5, int perSecond = 12)
        : m_file(std::move(file)), m_span(std::chrono::seconds(seconds)), m_perSecond(perSecond)
    {
    }

    bool Steady()
    {
        auto status = ReadViewerStatus(m_file);
        const Sample now{Clock::now(), std::strtoull(status["frames"].c_str(), nullptr, 10),
                         status["buffering_starts"]};
        m_last = status;
        // A run of playing readings with one buffering count.
        if (status["state"] != "3" || status["buffering_starts"].empty() ||
            (!m_run.empty() && m_run.back().buffering != now.buffering)) {
            m_run.clear();
            return false;
        }
        m_run.push_back(now);
        // The latest reading at least the span ago decides.
        while (m_run.size() > 1 && now.at - m_run[1].at >= m_span)
            m_run.pop_front();
        const Sample &from = m_run.front();
        const double seconds = std::chrono::duration<double>(now.at - from.at).count();
        return now.at - from.at >= m_span && static_cast<double>(now.frames - from.frames) >= m_perSecond * seconds;
    }

    // The last reading, for failure messages.
    std::string Last() const
    {
        std::string text;
        for (const auto &[key, value] : m_last)
            text += key + "=" + value + " ";
        return text;
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Sample {
        Clock::time_point at;
        unsigned long long frames;
        std::string buffering;
    };
    std::filesystem::path m_file;
    Clock::duration m_span;
    int m_perSecond;
    std::deque<Sample> m_run;
    std::map<std::string, std::string> m_last;
};
