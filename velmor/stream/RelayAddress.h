#pragma once
// The address of a broadcast relay: rtmp://host[:port]/app/key, the form
// nginx's RTMP module, and the streaming services, take for publishing. The
// host is a name, an IPv4 address or a bracketed IPv6 address; the port
// defaults to 1935; the application is one path segment; the stream key is
// the rest, kept exactly as written (keys are case-sensitive) and never
// written to the log.
#include <string>
#include <string_view>

struct RelayAddress {
    static constexpr int kDefaultPort = 1935;

    std::string host; // without brackets
    int port = kDefaultPort;
    std::string app;
    std::string key;

    // Fills `out` from `url`; false (and `out` untouched) for anything that
    // is not such an address.
    static bool Parse(std::string_view url, RelayAddress &out);

    // "rtmp://host:port/app/****": the address for the log and the window.
    std::string Display() const;
};
