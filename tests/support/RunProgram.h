#pragma once
// Runs a built program as a separate process in a given folder and collects
// its exit status and output. Used by the tests that start Velmor.exe and
// friends the way a user or another program would.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

struct ProgramResult {
    int exitCode = -1;   // -1 when it did not end by itself in time
    std::string out;
    std::string err;
};

inline std::string ProgramPath(const std::string &name)
{
    const char *dir = std::getenv("VELMOR_PROGRAM_DIR");
    return std::string(dir ? dir : VELMOR_PROGRAM_DIR) + "/" + name;
}

// A program started in the background; the test talks to it over the
// network and ends it with a signal, as a user or the desktop would.
class ChildProgram {
public:
    ChildProgram(const std::string &program, const std::vector<std::string> &args,
                 const std::filesystem::path &cwd, const std::vector<std::string> &env = {})
        : m_cwd(cwd)
    {
        static std::atomic<int> counter{0};
        const std::string tag = ".child-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        m_outFile = cwd / (tag + "-stdout");
        m_errFile = cwd / (tag + "-stderr");
        std::vector<std::string> argStore{program};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &a : argStore)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // An entry of `env` replaces the inherited one of the same name:
        // getenv finds the first, so a second one would go unseen.
        auto replaced = [&env](const char *entry) {
            for (const std::string &e : env) {
                const std::size_t eq = e.find('=');
                if (eq != std::string::npos && std::strncmp(entry, e.c_str(), eq + 1) == 0)
                    return true;
            }
            return false;
        };
        std::vector<std::string> envStore;
        for (char **e = environ; *e; ++e)
            if (!replaced(*e))
                envStore.emplace_back(*e);
        envStore.insert(envStore.end(), env.begin(), env.end());
        std::vector<char *> envp;
        for (std::string &e : envStore)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProgram() { Kill(); }
    ChildProgram(const ChildProgram &) = delete;
    ChildProgram &operator=(const ChildProgram &) = delete;

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    bool Running()
    {
        Poll();
        return m_pid > 0 && m_exitCode == -2;
    }
    void Signal(int signal)
    {
        if (Running())
            kill(m_pid, signal);
    }
    // Waits for the end; the exit code, 128+signal, or -1 on time-out.
    int Wait(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return m_exitCode == -2 ? -1 : m_exitCode;
    }
    void Kill()
    {
        if (Running()) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_exitCode = -1;
        }
    }
    std::string Stdout() const { return Slurp(m_outFile); }
    std::string Stderr() const { return Slurp(m_errFile); }
    // Removes the captured output files.
    void Forget() const
    {
        std::error_code ec;
        std::filesystem::remove(m_outFile, ec);
        std::filesystem::remove(m_errFile, ec);
    }

private:
    static std::string Slurp(const std::filesystem::path &p)
    {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    void Poll()
    {
        int status = 0;
        if (m_pid > 0 && m_exitCode == -2 && waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::filesystem::path m_cwd;
    std::filesystem::path m_outFile;
    std::filesystem::path m_errFile;
    pid_t m_pid = -1;
    int m_exitCode = -2; // -2: still running
};

// Starts `program` with `args` in `cwd`, extra environment `env` ("K=V"),
// waits up to `timeoutMs` for its end, then kills it.
inline ProgramResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                                const std::filesystem::path &cwd,
                                const std::vector<std::string> &env = {}, int timeoutMs = 20000)
{
    ProgramResult result;
    ChildProgram child(program, args, cwd, env);
    if (!child.Started())
        return result;
    result.exitCode = child.Wait(timeoutMs);
    child.Kill();
    result.out = child.Stdout();
    result.err = child.Stderr();
    child.Forget();
    return result;
}

// The environment that keeps a program under test off the machine: its own
// registry store, Windows folder, home, temporary and XDG folders (made below
// `dir`), and a restart that only runs `true`. "NAME=VALUE" entries for
// ChildProgram and RunProgram.
inline std::vector<std::string> PrivateProgramEnvironment(const std::filesystem::path &dir)
{
    std::vector<std::string> env{"VELMOR_RESTART_COMMAND=true"};
    for (const char *name : {"VELMOR_REGISTRY_DIR", "VELMOR_WINDOWS_DIR", "HOME", "TMPDIR", "XDG_DATA_HOME",
                             "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        const std::filesystem::path p = dir / name;
        std::filesystem::create_directories(p);
        env.push_back(std::string(name) + "=" + p.string());
    }
    return env;
}

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int FreeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}
