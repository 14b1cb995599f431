#pragma once
// A kerrow: URL as a web page builds it for the launcher:
//
//   kerrow:launch?Start=2&ConnectURL=10.0.0.5&ConnectPort=7000&EncodeURL=10.0.0.5&ConnectEncoderPort=7002&Launcher=1
//
// (also "kerrow://launch?..."). The query holds NAME=VALUE pairs separated
// by "&", percent-encoded UTF-8 ("+" is a plus sign). A name is one of the
// control's property-bag names ("GlobalTag", "Start", ..., "EncodeURL",
// "Launcher") or of the properties a page sets from script ("ProgName",
// "ExeName", "Script", "ProgKorName", "ViewConfirm", "ViewProgress",
// "Waiting", "Argument"), without regard to case. A name the control has as
// a property but not in its property map ("ConnectEncodeURL") is ignored,
// as the property bag ignores it.
//
// Refused, with the reason as a Korean sentence: another scheme or command,
// an unknown or repeated name, a value over kMaxValueBytes, a bad percent
// escape, bytes that are not UTF-8, a NUL byte, a URL over kMaxUrlBytes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CKerrowUrl {
public:
    static constexpr std::size_t kMaxUrlBytes = 64 * 1024;
    static constexpr std::size_t kMaxValueBytes = 4096;

    struct Parameter {
        std::string name;  // as the control spells it ("EncodeURL")
        std::string value; // decoded UTF-8
        bool persisted;    // a property-bag name (else set from script)
    };

    // The parsed URL, or nothing with `error` set.
    static std::optional<CKerrowUrl> Parse(std::string_view url, std::string &error);

    const std::vector<Parameter> &Parameters() const { return m_parameters; }
    // Names that were ignored ("ConnectEncodeURL").
    const std::vector<std::string> &Ignored() const { return m_ignored; }
    // The parameter of that name (without regard to case), or null.
    const Parameter *Find(std::string_view name) const;

    // Percent-decoding of one component; nothing for a bad escape.
    static std::optional<std::string> Decode(std::string_view text);

private:
    std::vector<Parameter> m_parameters;
    std::vector<std::string> m_ignored;
};
