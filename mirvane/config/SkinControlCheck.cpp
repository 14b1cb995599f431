#include "SkinControlCheck.h"

#include "TextFormat.h"

#include "platform/FileVersion.h"
#include "platform/Process.h"
#include "platform/Registry.h"

#include <cstdlib>
#include <vector>

namespace {

std::vector<std::string> SplitAtDots(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t dot = text.find('.', at);
        parts.emplace_back(text.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at));
        if (dot == std::string_view::npos)
            return parts;
        at = dot + 1;
    }
}

} // namespace

int CompareFileVersionText(std::string_view fileVersion, std::string_view required)
{
    const std::vector<std::string> have = SplitAtDots(fileVersion);
    const std::vector<std::string> want = SplitAtDots(required);
    if (have.size() != want.size())
        return -1;
    for (std::size_t i = 0; i < have.size(); ++i) {
        const int a = std::atoi(have[i].c_str());
        const int b = std::atoi(want[i].c_str());
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

SkinControlState CheckSkinControl(std::string *path)
{
    platform::RegistryKey key;
    std::string file;
    if (SUCCEEDED(platform::RegistryKey::Open(platform::RegRoot::HKCR, kSkinControlKey, key)))
        file = key.ReadString("").value_or(std::string());
    if (path)
        *path = file;
    if (file.empty())
        return SkinControlState::NotRegistered;
    if (!platform::FileExists(file))
        return SkinControlState::Missing;
    const auto version = platform::ReadFileVersion(file);
    const std::string text = version ? platform::FormatFileVersion(*version) : std::string();
    if (CompareFileVersionText(text, kSkinControlVersion) < 0)
        return SkinControlState::Outdated;
    return SkinControlState::Ok;
}

std::string SkinControlMessage(SkinControlState state, const std::string &korName)
{
    switch (state) {
    case SkinControlState::NotRegistered:
        return FormatText("ActSkn43.ocx 파일의 레지스트리 정보가 올바르지 않습니다.\n\n'%s'를 다시 설치해주세요.",
                          {korName});
    case SkinControlState::Missing:
        return FormatText("ActSkn43.ocx 파일이 존재하지 않습니다.\n\n'%s'를 다시 설치하세요.", {korName});
    case SkinControlState::Outdated:
        return FormatText("ActSkn43.ocx의 버젼이 낮아 '%s'를 실행시킬 수 없습니다.\n\nActSkn43.ocx의 버젼이 "
                          "외부요인에 의해 변경되었을 수도 있습니다.\n\n'%s'를 다시 설치하세요.",
                          {korName, korName});
    case SkinControlState::Ok:
        break;
    }
    return std::string();
}
