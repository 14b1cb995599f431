// A host window and two guest windows, each in a process of its own, chat
// on loopback: lines typed in one appear in the others with the room's texts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// One chat_window_peer process with its standard input and output on pipes.
class Peer {
public:
    explicit Peer(std::vector<std::string> args)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addchdir_np(&actions, VELMOR_PROGRAM_DIR);
        args.insert(args.begin(), CHAT_WINDOW_PEER);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, CHAT_WINDOW_PEER, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~Peer()
    {
        if (m_in >= 0)
            close(m_in);
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            close(m_out);
    }
    bool Started() const { return m_pid > 0; }

    void Send(const std::string &line)
    {
        const std::string data = line + "\n";
        ASSERT_EQ(write(m_in, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    // The next output line, or "" after `timeoutMs`.
    std::string ReadLine(int timeoutMs = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const std::size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left <= 0)
                return {};
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                return {};
            char chunk[4096];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Lines up to the one starting with `prefix` (returned), skipping others.
    std::string WaitLine(const std::string &prefix, int timeoutMs = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            std::string line = ReadLine(timeoutMs);
            if (line.rfind(prefix, 0) == 0)
                return line;
            if (line.empty())
                break;
        }
        return {};
    }

    struct Screen {
        std::vector<std::string> list;
        std::string chat; // display lines joined by '\n'
    };
    Screen Dump()
    {
        Screen s;
        Send("dump");
        for (;;) {
            const std::string line = ReadLine();
            if (line.empty() || line == "END")
                break;
            if (line.rfind("LIST ", 0) == 0)
                s.list.push_back(line.substr(5));
            else if (line.rfind("CHAT ", 0) == 0)
                s.chat += line.substr(5) + "\n";
        }
        return s;
    }

    // Dumps until `ok` holds or 10 seconds pass; returns the last screen.
    Screen WaitScreen(const std::function<bool(const Screen &)> &ok)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        Screen s = Dump();
        while (!ok(s) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            s = Dump();
        }
        return s;
    }

    // Waits for the process to end; its exit code, or -1.
    int Wait(int timeoutMs = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_ended = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    bool m_ended = false;
    std::string m_buffer;
};

bool Has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ChatWindowEndToEnd, HostAndTwoGuestsChatThroughTheirWindows)
{
    Peer host({"host"});
    ASSERT_TRUE(host.Started());
    const std::string ready = host.WaitLine("READY ");
    ASSERT_FALSE(ready.empty());
    const std::string port = ready.substr(6);
    ASSERT_NE(port, "0");

    Peer a({"guest", port});
    ASSERT_FALSE(a.WaitLine("READY").empty());
    // The second guest joins once the first is listed, so the numbers are fixed.
    host.WaitScreen([](const Peer::Screen &s) { return s.list.size() == 2; });
    Peer b({"guest", port});
    ASSERT_FALSE(b.WaitLine("READY").empty());

    const std::vector<std::string> members{"방장", "손님1", "손님2"};
    auto listed = [&](const Peer::Screen &s) { return s.list == members; };
    EXPECT_EQ(host.WaitScreen(listed).list, members);
    EXPECT_EQ(a.WaitScreen(listed).list, members);
    EXPECT_EQ(b.WaitScreen(listed).list, members);
    Peer::Screen s = host.Dump();
    EXPECT_TRUE(Has(s.chat, "(손님1)님 안녕하세요\n")) << s.chat;
    EXPECT_TRUE(Has(s.chat, "(손님2)님 안녕하세요\n")) << s.chat;
    EXPECT_TRUE(Has(a.Dump().chat, "(손님1)님 안녕하세요\n"));

    // A guest's line reaches everyone, its own window once (via the host).
    a.Send("say 안녕하세요 여러분 http://127.0.0.1/");
    const std::string line = "\n[손님1]님의 말:\n안녕하세요 여러분 http://127.0.0.1/\n";
    auto saidA = [&](const Peer::Screen &x) { return Has(x.chat, line); };
    EXPECT_TRUE(saidA(host.WaitScreen(saidA)));
    EXPECT_TRUE(saidA(b.WaitScreen(saidA)));
    s = a.WaitScreen(saidA);
    EXPECT_TRUE(saidA(s));
    EXPECT_EQ(s.chat.find(line), s.chat.rfind(line));

    // The host speaks.
    host.Send("say 어서 오세요");
    auto saidHost = [](const Peer::Screen &x) { return Has(x.chat, "\n[방장]님의 말:\n어서 오세요\n"); };
    EXPECT_TRUE(saidHost(a.WaitScreen(saidHost)));
    EXPECT_TRUE(saidHost(b.WaitScreen(saidHost)));
    EXPECT_TRUE(saidHost(host.WaitScreen(saidHost)));

    // A guest renames itself; everybody's list and display follow.
    b.Send("rename 철수");
    auto renamed = [](const Peer::Screen &x) {
        return Has(x.chat, "\n[손님2]님의 채팅이름이 철수로 변경되었습니다.\n") && x.list.size() == 3 &&
               x.list[2] == "철수";
    };
    EXPECT_TRUE(renamed(host.WaitScreen(renamed)));
    EXPECT_TRUE(renamed(a.WaitScreen(renamed)));
    EXPECT_TRUE(renamed(b.WaitScreen(renamed)));

    // The first guest leaves.
    a.Send("quit");
    EXPECT_EQ(a.Wait(), 0);
    auto left = [](const Peer::Screen &x) {
        return Has(x.chat, "\n(손님1)님 안녕히가세요\n") &&
               x.list == std::vector<std::string>{"방장", "철수"};
    };
    EXPECT_TRUE(left(host.WaitScreen(left)));
    EXPECT_TRUE(left(b.WaitScreen(left)));

    // The host closes the room: the remaining guest is told and ends.
    host.Send("quit");
    EXPECT_EQ(host.Wait(), 0);
    EXPECT_FALSE(b.WaitLine("EVENT room-closed").empty());
    EXPECT_EQ(b.Wait(), 4);
}
