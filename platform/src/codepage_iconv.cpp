#include "platform/CodePage.h"

#include <QString>

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace platform {
namespace {

// One iconv descriptor per direction and thread, opened on first use: a
// descriptor may not be shared between threads, and opening one per call
// costs more than most conversions.
class ThreadConverter {
public:
    ThreadConverter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~ThreadConverter()
    {
        if (Valid())
            iconv_close(m_cd);
    }
    ThreadConverter(const ThreadConverter &) = delete;
    ThreadConverter &operator=(const ThreadConverter &) = delete;
    bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    // Back to the initial shift state, ready for a new text.
    iconv_t Fresh()
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        return m_cd;
    }

private:
    iconv_t m_cd;
};

// Converts with iconv; an input byte sequence the source code page does not
// know is replaced by `replacement` and skipped, so any input converts.
std::string Convert(ThreadConverter &converter, std::string_view in, std::string_view replacement)
{
    if (!converter.Valid())
        return std::string(in);
    iconv_t raw = converter.Fresh();

    std::string out;
    out.reserve(in.size() * 2 + 4);
    char *inPtr = const_cast<char *>(in.data());
    size_t inLeft = in.size();
    char buf[1024];
    while (inLeft > 0) {
        char *outPtr = buf;
        size_t outLeft = sizeof buf;
        size_t rc = iconv(raw, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf, static_cast<size_t>(outPtr - buf));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (truncated sequence at the end): skip one byte.
            out.append(replacement);
            ++inPtr;
            --inLeft;
        }
    }
    return out;
}

} // namespace

std::size_t AnsiLength(std::string_view utf8)
{
    return Utf8ToAnsi(utf8).size();
}

std::size_t Utf8ToAnsiBuffer(std::string_view utf8, char *out, std::size_t size)
{
    if (out == nullptr || size == 0)
        return 0;
    // The log converts every entry here and must not allocate on each call.
    thread_local ThreadConverter converter("CP949//TRANSLIT", "UTF-8");

    std::size_t used = 0;
    const std::size_t room = size - 1;
    if (!converter.Valid()) {
        used = std::min(utf8.size(), room);
        std::memcpy(out, utf8.data(), used);
        out[used] = '\0';
        return used;
    }
    iconv_t cd = converter.Fresh();
    char *inPtr = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *outPtr = out;
    size_t outLeft = room;
    while (inLeft > 0 && outLeft > 0) {
        size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG)
            break;
        // An invalid or cut-off sequence: one '?' for its first byte, if the
        // output has room for it. iconv reports a bad sequence before it
        // looks at the room left, so a full output can arrive here.
        if (outLeft == 0)
            break;
        *outPtr++ = '?';
        --outLeft;
        ++inPtr;
        --inLeft;
    }
    used = static_cast<std::size_t>(outPtr - out);
    out[used] = '\0';
    return used;
}

std::string AnsiToUtf8(std::string_view ansi)
{
    thread_local ThreadConverter converter("UTF-8", "CP949");
    return Convert(converter, ansi, "\xEF\xBF\xBD");
}

std::string Utf8ToAnsi(std::string_view utf8)
{
    thread_local ThreadConverter converter("CP949//TRANSLIT", "UTF-8");
    return Convert(converter, utf8, "?");
}

QString AnsiToQString(std::string_view ansi)
{
    const std::string utf8 = AnsiToUtf8(ansi);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string QStringToAnsi(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToAnsi(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8At(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return std::pair{char32_t{lead}, std::size_t{1}};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size())
        return std::nullopt;
    char32_t cp = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return std::pair{cp, length};
}

bool IsUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const auto next = DecodeUtf8At(text, at);
        if (!next)
            return false;
        at += next->second;
    }
    return true;
}

void AppendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace platform
