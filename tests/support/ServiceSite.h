#pragma once
// Starts the repository's stand-in service site (tools/service-site) on a free
// loopback port for one test, lets the test say what it answers, and reads
// back the requests it received.
#include "RunProgram.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class ServiceSite {
public:
    struct Request {
        std::string path;
        std::string query;
        std::string agent; // User-Agent
        std::string range;
        std::string ifRange;
        std::string cacheControl;
        std::string pragma;
    };

    // `extraArgs` go to service_site.py as they are ("--sign-key", KEY).
    explicit ServiceSite(const std::filesystem::path &dir, const std::vector<std::string> &extraArgs = {})
        : m_dir(dir)
    {
        std::filesystem::create_directories(dir);
        const std::string script = std::string(SourceDir()) + "/tools/service-site/service_site.py";
        const std::string portFile = (dir / "site.port").string();
        const std::string record = (dir / "site.requests").string();
        const std::string answers = (dir / "site.answers").string();
        std::filesystem::create_directories(dir / "www");
        // Its output goes to files in `dir`, never to the test's own output,
        // which a site left running would hold open.
        std::vector<std::string> args{"python3", script, "--port", "0", "--port-file", portFile, "--record", record,
                                      "--answers", answers, "--root", (dir / "www").string(), "--exit-with-parent"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        m_site = std::make_unique<ChildProgram>("/usr/bin/env", args, dir);
        for (int i = 0; i < 500 && m_site->Running(); ++i) {
            std::ifstream in(portFile);
            if (in >> m_port)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~ServiceSite()
    {
        m_site->Signal(SIGTERM);
        m_site->Wait(5000);
    }
    ServiceSite(const ServiceSite &) = delete;
    ServiceSite &operator=(const ServiceSite &) = delete;

    int Port() const { return m_port; }
    // Files placed here are served by their path below it ("/clip.asf").
    std::filesystem::path FilesDir() const { return m_dir / "www"; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }

    // Sets the answer for `path`: the body, and optionally status and delay.
    void Answer(const std::string &path, const std::string &body, int status = 200, int delayMs = 0)
    {
        m_answers[path] = "{\"body\": " + Json(body) + ", \"status\": " + std::to_string(status) +
                          ", \"delay_ms\": " + std::to_string(delayMs) + "}";
        WriteAnswers();
    }

    // Sets the answer for `path` as a JSON object text, with any of the keys
    // tools/service-site/service_site.py knows ("length", "drop_after",
    // "raw", "redirect", ...), e.g. R"({"body": "abc", "length": "none"})".
    void AnswerWith(const std::string &path, const std::string &jsonObject)
    {
        m_answers[path] = jsonObject;
        WriteAnswers();
    }

    // Drops the answer for `path`: it gets the built-in answer or its file again.
    void Forget(const std::string &path)
    {
        m_answers.erase(path);
        WriteAnswers();
    }

    // A JSON string literal of `s`, for building answer objects.
    static std::string Json(const std::string &s)
    {
        std::string out = "\"";
        for (unsigned char c : s) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out + "\"";
    }

    // The requests received so far, oldest first.
    std::vector<Request> Requests() const
    {
        std::vector<Request> out;
        std::ifstream in(m_dir / "site.requests");
        std::string line;
        while (std::getline(in, line))
            out.push_back({Field(line, "path"), Field(line, "query"), Field(line, "agent"), Field(line, "range"),
                           Field(line, "if_range"), Field(line, "cache_control"), Field(line, "pragma")});
        return out;
    }

    std::vector<Request> RequestsFor(const std::string &path) const
    {
        std::vector<Request> out;
        for (const Request &r : Requests())
            if (r.path == path)
                out.push_back(r);
        return out;
    }

    // Waits until `path` was requested `count` times, up to `timeoutMs`.
    bool WaitFor(const std::string &path, std::size_t count = 1, int timeoutMs = 10000) const
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (RequestsFor(path).size() >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    void WriteAnswers()
    {
        std::ostringstream all;
        all << "{";
        bool first = true;
        for (const auto &[p, a] : m_answers) {
            all << (first ? "" : ", ") << Json(p) << ": " << a;
            first = false;
        }
        all << "}";
        const std::filesystem::path file = m_dir / "site.answers";
        std::ofstream(file.string() + ".tmp") << all.str();
        std::filesystem::rename(file.string() + ".tmp", file);
    }
    static const char *SourceDir()
    {
        const char *dir = std::getenv("VELMOR_SOURCE_DIR");
        return dir ? dir : VELMOR_SOURCE_DIR;
    }
    // The value of a string field in one JSON line written by the site.
    static std::string Field(const std::string &line, const std::string &name)
    {
        const std::string key = "\"" + name + "\": \"";
        std::size_t at = line.find(key);
        if (at == std::string::npos)
            return std::string();
        at += key.size();
        std::string out;
        for (; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] == '\\' && at + 1 < line.size())
                ++at;
            out += line[at];
        }
        return out;
    }

    std::filesystem::path m_dir;
    std::unique_ptr<ChildProgram> m_site;
    int m_port = 0;
    std::map<std::string, std::string> m_answers;
};
