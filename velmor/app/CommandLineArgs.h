#pragma once
// The parsed command line of Velmor: "/u" then options such as
// "-start 1 -lport 64002 -elport 8080". Filled once at start-up, then only read.
#include <cstdint>
#include <string>
#include <string_view>

struct CommandLineArgs {
    static constexpr int kLineChars = 256;
    static constexpr int kValueChars = 128;

    char line[kLineChars + 1] = {};      // the lower-cased line that was parsed
    char tag[kValueChars] = {};
    std::uint16_t start = 0;             // 1 broadcaster, 2 viewer
    std::uint16_t lport = 64002;         // chat server port (broadcaster)
    std::uint16_t elport = 8080;         // stream server port (broadcaster)
    char curl[kValueChars] = {};         // chat server host (viewer)
    std::uint16_t cport = 64002;         // chat server port (viewer)
    char ceurl[kValueChars] = {};        // stream server host (viewer)
    std::uint16_t ceport = 8080;         // stream server port (viewer)
    char onairrul[kValueChars] = {};     // requested once the stream is ready
    char offairurl[kValueChars] = {};    // requested when the main window closes
    std::string relay;                   // -relay: the broadcast relay, as written

    // Lower-cases `text` in place and keeps at most 256 characters of it.
    void Store(char *text);
    // Fills the fields from the stored line; false when it holds no hyphen.
    bool Parse();
    // Takes "-relay VALUE" (the name in any case) from the option text before
    // it is stored: the value keeps its case, since a relay's stream key is
    // case-sensitive, and its key is masked in `text`, so the stored and
    // logged line never carries it. The last of repeated options wins.
    void TakeRelay(std::string &text);
};

// `text` with whatever follows its last "/" replaced by "****": a relay
// address fit for the log, whether it is well-formed or not.
std::string MaskRelayKey(std::string_view text);

// The process's parsed command line, set by the application object at start-up.
const CommandLineArgs &GetAppArgs();
void SetAppArgs(const CommandLineArgs &args);
