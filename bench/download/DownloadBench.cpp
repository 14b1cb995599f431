// Downloader benchmark: one large file from a loopback server, fetched by the
// file fetch (1024-byte pieces, cancel test before each, speed window,
// progress) and by the curl program on the same URL, in turns.
//
// The server is a small sendfile loop on its own thread, so neither side
// waits for it. Prints the median time of each, their ratio, and the peak
// resident memory of this process after a small download and after all the
// large ones (the downloader's memory must not grow with the file).
//
//   download_bench [megabytes (200)] [rounds (5)]
#include "CDownloader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Answers every GET with the whole file, then closes the connection.
class SendfileServer {
public:
    explicit SendfileServer(const std::string &path) : m_path(path)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~SendfileServer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listen);
    }
    int Port() const { return m_port; }

private:
    void Serve()
    {
        while (!m_stop) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            const int file = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
            const off_t size = ::lseek(file, 0, SEEK_END);
            const std::string head =
                "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(size) + "\r\nConnection: close\r\n\r\n";
            if (::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size())) {
                off_t offset = 0;
                while (offset<size && ::sendfile(fd, file, &offset,
                                                 static_cast<std::size_t>(size - offset))> 0) {
                }
            }
            ::close(file);
            ::shutdown(fd, SHUT_WR);
            while (::read(fd, buffer, sizeof buffer) > 0) {
            }
            ::close(fd);
        }
    }

    std::string m_path;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

double RunCurl(const std::string &url, const std::string &out)
{
    std::vector<std::string> args{"curl", "-s", "-o", out, url};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

double RunOurs(const CDownloader &downloader, const std::string &url)
{
    CNullInstallProgress progress;
    CInstallSteps steps(progress, 1);
    platform::Event cancel(true, false);
    CDownloadItem item{url, "", ""};
    const auto start = Clock::now();
    const std::string outcome = downloader.FetchFile(item, steps, cancel.Get());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return outcome.empty() ? seconds : -1;
}

long PeakRssKb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void MakeFile(const std::string &path, long long bytes)
{
    std::vector<char> block(1 << 20);
    unsigned x = 12345;
    for (char &c : block) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (long long done = 0; done < bytes; done += static_cast<long long>(block.size()))
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<long long>(bytes - done, block.size())));
}

} // namespace

int main(int argc, char **argv)
{
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const char *base = std::getenv("TMPDIR");
    const std::filesystem::path dir = std::filesystem::path(base && *base ? base : "/tmp") /
                                      ("download-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "www");
    std::filesystem::create_directories(dir / "curl");
    // Our downloads go to the temporary folder under the XDG state folder.
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    const std::filesystem::path oursDir = dir / "state/velmor/temp";

    MakeFile((dir / "www" / "small.bin").string(), 2 << 20);
    MakeFile((dir / "www" / "large.bin").string(), megabytes << 20);
    CDownloader downloader("Mirvane");

    SendfileServer small((dir / "www" / "small.bin").string());
    const std::string smallUrl = "http://127.0.0.1:" + std::to_string(small.Port()) + "/small.bin";
    if (RunOurs(downloader, smallUrl) < 0) {
        std::fprintf(stderr, "download_bench: the small download failed\n");
        return 1;
    }
    const long rssSmall = PeakRssKb();

    SendfileServer large((dir / "www" / "large.bin").string());
    const std::string url = "http://127.0.0.1:" + std::to_string(large.Port()) + "/large.bin";
    std::vector<double> ours, curl;
    for (int round = 0; round < rounds; ++round) {
        std::filesystem::remove(oursDir / "large.bin");
        std::filesystem::remove(dir / "curl" / "large.bin");
        // Alternate who goes first, so neither always meets a warm cache.
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursNow = (round + turn) % 2 == 0;
            const double seconds =
                oursNow ? RunOurs(downloader, url) : RunCurl(url, (dir / "curl" / "large.bin").string());
            if (seconds < 0) {
                std::fprintf(stderr, "download_bench: %s failed\n", oursNow ? "the downloader" : "curl");
                return 1;
            }
            (oursNow ? ours : curl).push_back(seconds);
        }
        if (std::filesystem::file_size(oursDir / "large.bin") != static_cast<std::uintmax_t>(megabytes << 20)) {
            std::fprintf(stderr, "download_bench: the download is not whole\n");
            return 1;
        }
    }
    const long rssLarge = PeakRssKb();
    std::filesystem::remove_all(dir);

    const double oursMedian = Median(ours), curlMedian = Median(curl);
    std::printf("download of %lld MB on loopback, %d rounds\n", megabytes, rounds);
    std::printf("  downloader  median %.3f s  (%.0f MB/s)\n", oursMedian,
                static_cast<double>(megabytes) / oursMedian);
    std::printf("  curl        median %.3f s  (%.0f MB/s)\n", curlMedian,
                static_cast<double>(megabytes) / curlMedian);
    std::printf("  ratio       %.2f x curl (target <= 1.10)\n", oursMedian / curlMedian);
    std::printf("  peak RSS    %ld KB after 2 MB, %ld KB after %d x %lld MB\n", rssSmall, rssLarge, rounds,
                megabytes);
    return 0;
}
