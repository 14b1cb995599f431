#include "RegistryReference.h"

#include "platform/Registry.h"

#include <strings.h>

#include <optional>
#include <vector>

namespace {

std::optional<platform::RegRoot> ReferenceRoot(const std::string &name)
{
    static const struct {
        const char *name;
        platform::RegRoot root;
    } kRoots[] = {{"HKCR", platform::RegRoot::HKCR}, {"HKCU", platform::RegRoot::HKCU},
                  {"HKLM", platform::RegRoot::HKLM}, {"HKUS", platform::RegRoot::HKU},
                  {"HKU", platform::RegRoot::HKU},   {"HKCC", platform::RegRoot::HKCC}};
    for (const auto &entry : kRoots)
        if (::strcasecmp(name.c_str(), entry.name) == 0)
            return entry.root;
    return std::nullopt;
}

} // namespace

std::string ResolveRegistryReference(std::string_view reference)
{
    // The three fields separated by commas; a fourth field is not part of
    // the value name.
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (fields.size() < 3) {
        const std::size_t comma = reference.find(',', at);
        fields.emplace_back(reference.substr(at, comma == std::string_view::npos ? std::string_view::npos
                                                                                  : comma - at));
        if (comma == std::string_view::npos)
            break;
        at = comma + 1;
    }
    if (fields.size() < 3 || fields[0].empty() || fields[1].empty() || fields[2].empty())
        return std::string();
    const std::optional<platform::RegRoot> root = ReferenceRoot(fields[0]);
    if (!root)
        return std::string();
    platform::RegistryKey key;
    if (FAILED(platform::RegistryKey::Open(*root, fields[1], key)))
        return std::string();
    return key.ReadString(fields[2]).value_or(std::string());
}
