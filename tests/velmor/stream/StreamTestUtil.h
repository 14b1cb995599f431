#pragma once
// Helpers shared by the stream tests: synthetic frames, running the real
// players (ffprobe, ffmpeg) and reading what they print.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace streamtest {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3;

// A bottom-up 24-bit BGR frame of one colour.
inline std::vector<unsigned char> SolidFrame(unsigned char r, unsigned char g, unsigned char b)
{
    std::vector<unsigned char> f(kFrameBytes);
    for (std::size_t i = 0; i < f.size(); i += 3) {
        f[i] = b;
        f[i + 1] = g;
        f[i + 2] = r;
    }
    return f;
}

// Runs a shell command and returns what it printed on stdout (stderr is
// kept when merge is set).
inline std::string Capture(const std::string &command, bool mergeStderr = false)
{
    std::string cmd = command + (mergeStderr ? " 2>&1" : " 2>/dev/null");
    std::string out;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Mean R, G, B of an RGB24 picture region.
struct Rgb {
    double r = 0, g = 0, b = 0;
};
inline Rgb MeanColour(const unsigned char *rgb, int width, int x0, int y0, int w, int h)
{
    Rgb m;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            const unsigned char *p = rgb + (static_cast<std::size_t>(y) * width + x) * 3;
            m.r += p[0];
            m.g += p[1];
            m.b += p[2];
        }
    const double n = static_cast<double>(w) * h;
    m.r /= n;
    m.g /= n;
    m.b /= n;
    return m;
}

} // namespace streamtest
