#include "CKerrowUrl.h"

#include "InstallerPropertyMap.h"

#include "platform/CodePage.h"

#include <strings.h>

#include <cstdint>

namespace {

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The name a parameter goes by, or nothing when the control has no such
// property; `persisted` tells the property-bag names.
std::optional<std::string> KnownName(std::string_view name, bool &persisted)
{
    for (const CInstallerMember &member : PersistedProperties())
        if (SameText(member.name, name)) {
            persisted = true;
            return std::string(member.name);
        }
    for (const CInstallerMember &member : ScriptProperties())
        if (SameText(member.name, name)) {
            persisted = false;
            return std::string(member.name);
        }
    return std::nullopt;
}

// The part of the text a message may quote: short and printable.
std::string Quote(std::string_view text)
{
    std::string out;
    for (const char c : text.substr(0, 40))
        out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    if (text.size() > 40)
        out += "...";
    return out;
}

} // namespace

std::optional<std::string> CKerrowUrl::Decode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(high << 4 | low));
        i += 2;
    }
    return out;
}

const CKerrowUrl::Parameter *CKerrowUrl::Find(std::string_view name) const
{
    for (const Parameter &parameter : m_parameters)
        if (SameText(parameter.name, name))
            return &parameter;
    return nullptr;
}

std::optional<CKerrowUrl> CKerrowUrl::Parse(std::string_view url, std::string &error)
{
    if (url.size() > kMaxUrlBytes) {
        error = "주소가 너무 깁니다.";
        return std::nullopt;
    }
    constexpr std::string_view scheme = "kerrow:";
    if (url.size() < scheme.size() || !SameText(url.substr(0, scheme.size()), scheme)) {
        error = "kerrow: 주소가 아닙니다.";
        return std::nullopt;
    }
    std::string_view rest = url.substr(scheme.size());
    if (const std::size_t hash = rest.find('#'); hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    const std::size_t question = rest.find('?');
    std::string_view command = rest.substr(0, question);
    while (!command.empty() && command.front() == '/')
        command.remove_prefix(1);
    while (!command.empty() && command.back() == '/')
        command.remove_suffix(1);
    if (!SameText(command, "launch")) {
        error = "'" + Quote(command) + "'(은)는 알 수 없는 명령입니다. kerrow:launch 주소여야 합니다.";
        return std::nullopt;
    }

    CKerrowUrl parsed;
    std::string_view query =
        question == std::string_view::npos ? std::string_view() : rest.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos) {
            error = "'" + Quote(pair) + "' 매개변수에 값이 없습니다.";
            return std::nullopt;
        }
        const std::optional<std::string> name = Decode(pair.substr(0, eq));
        const std::optional<std::string> value = Decode(pair.substr(eq + 1));
        if (!name || !value) {
            error = "'" + Quote(pair) + "'에 잘못된 퍼센트 인코딩이 있습니다.";
            return std::nullopt;
        }
        if (!platform::IsUtf8(*name) || !platform::IsUtf8(*value)) {
            error = "'" + Quote(*name) + "' 매개변수에 UTF-8이 아닌 바이트가 있습니다.";
            return std::nullopt;
        }
        if (name->find('\0') != std::string::npos || value->find('\0') != std::string::npos) {
            error = "'" + Quote(*name) + "' 매개변수에 NUL 문자가 있습니다.";
            return std::nullopt;
        }
        if (value->size() > kMaxValueBytes) {
            error = "'" + Quote(*name) + "' 매개변수의 값이 너무 깁니다 (" + std::to_string(value->size()) +
                    "바이트, 최대 " + std::to_string(kMaxValueBytes) + "바이트).";
            return std::nullopt;
        }
        bool persisted = false;
        const std::optional<std::string> known = KnownName(*name, persisted);
        if (!known) {
            // A property the control has but not in its property map.
            if (const CInstallerMember *member = FindInstallerMember(*name);
                member != nullptr && member->canPut) {
                parsed.m_ignored.push_back(member->name);
                continue;
            }
            error = "'" + Quote(*name) + "'(은)는 알 수 없는 매개변수입니다.";
            return std::nullopt;
        }
        if (parsed.Find(*known) != nullptr) {
            error = "'" + *known + "' 매개변수가 두 번 있습니다.";
            return std::nullopt;
        }
        parsed.m_parameters.push_back({*known, *value, persisted});
    }
    return parsed;
}
