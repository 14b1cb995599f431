#pragma once
// A plain HTTP GET client shaped like the framework's internet session:
// OpenURL returns the server's answer (whatever its status) as a file to read
// lines from, or nothing when the server could not be reached.
// Requests are never cached and always ask the server afresh.
#include <atomic>
#include <memory>
#include <string>

namespace platform {

class CHttpFile {
public:
    CHttpFile(long status, std::string body) : m_status(status), m_body(std::move(body)) {}
    // The HTTP status of the answer (200, 404, ...).
    long Status() const { return m_status; }
    // Reads the next line (without its line end) into `line`, at most
    // `bufferBytes` - 1 characters of it. False when nothing is left.
    bool ReadString(std::string &line, std::size_t bufferBytes = 4096);
    const std::string &Body() const { return m_body; }

private:
    long m_status;
    std::string m_body;
    std::size_t m_pos = 0;
};

class CInternetSession {
public:
    CInternetSession();
    ~CInternetSession();
    CInternetSession(const CInternetSession &) = delete;
    CInternetSession &operator=(const CInternetSession &) = delete;

    // GETs `url`. Null when the address is not valid, the server cannot be
    // reached or timed out, or Abort() was called.
    std::unique_ptr<CHttpFile> OpenURL(const std::string &url);

    // Makes a running and every later OpenURL give up at once (any thread).
    void Abort() { m_abort.store(true); }

    // Upper bounds so a dead server never holds a caller forever.
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 15000;
    std::size_t maxBodyBytes = 1 << 20;

private:
    std::atomic<bool> m_abort{false};
};

} // namespace platform
