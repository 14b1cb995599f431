#pragma once
// What a viewer Velmor.exe reports through VELMOR_STATUS_FILE ("key=value"
// lines, rewritten twice a second), and a watch for steady playing.
#include "TestDir.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <map>
#include <sstream>

inline std::map<std::string, std::string> ReadViewerStatus(const std::filesystem::path &file)
{
    std::map<std::string, std::string> status;
    std::istringstream in(TestDir::Read(file));
    for (std::string line; std::getline(in, line);)
        if (const std::size_t eq = line.find('='); eq != std::string::npos)
            status[line.substr(0, eq)] = line.substr(eq + 1);
    return status;
}

// Steady() reads the file and holds once the viewer has played for 5 s on
// end, at least 12 pictures a second, playing at every reading and without
// one buffering in between. Call it a few times a second.
class SteadyPlayWatch {
public:
    explicit SteadyPlayWatch(std::filesystem::path file) : m_file(std::move(file)) {}
    bool Steady()
    {
        m_last = ReadViewerStatus(m_file);
        const Reading now{std::chrono::steady_clock::now(),
                          std::strtoull(m_last["frames"].c_str(), nullptr, 10), m_last["buffering_starts"]};
        if (m_last["state"] != "3" || now.buffering.empty() ||
            (!m_run.empty() && m_run.back().buffering != now.buffering))
            m_run.clear();
        else
            m_run.push_back(now);
        while (m_run.size() > 1 && now.at - m_run[1].at >= std::chrono::seconds(5))
            m_run.pop_front(); // the latest reading at least 5 s old decides
        const double seconds =
            m_run.empty() ? 0 : std::chrono::duration<double>(now.at - m_run.front().at).count();
        return seconds >= 5 && static_cast<double>(now.frames - m_run.front().frames) >= 12 * seconds;
    }
    std::string Last() const
    {
        std::string text;
        for (const auto &[key, value] : m_last)
            text += key + "=" + value + " ";
        return text;
    }

private:
    struct Reading {
        std::chrono::steady_clock::time_point at;
        unsigned long long frames;
        std::string buffering;
    };
    std::filesystem::path m_file;
    std::deque<Reading> m_run;
    std::map<std::string, std::string> m_last;
};
