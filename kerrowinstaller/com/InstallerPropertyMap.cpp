#include "InstallerPropertyMap.h"

#include <strings.h>

#include <string>

namespace {

constexpr CInstallerMember kMembers[] = {
    {"Install", DISPID_Install, VT_EMPTY, false, false},
    {"ProgName", DISPID_ProgName, VT_BSTR, false, true},
    {"ExeName", DISPID_ExeName, VT_BSTR, false, true},
    {"Script", DISPID_Script, VT_BSTR, false, true},
    {"ProgKorName", DISPID_ProgKorName, VT_BSTR, false, true},
    {"ViewConfirm", DISPID_ViewConfirm, VT_I4, false, true},
    {"ViewProgress", DISPID_ViewProgress, VT_I4, false, true},
    {"Waiting", DISPID_Waiting, VT_I4, false, true},
    {"Argument", DISPID_Argument, VT_BSTR, false, true},
    {"ShowWindowHandle", DISPID_ShowWindowHandle, VT_EMPTY, false, false},
    {"NotifyPartner", DISPID_NotifyPartner, VT_EMPTY, false, false},
    {"GlobalTag", DISPID_GlobalTag, VT_BSTR, true, true},
    {"Start", DISPID_Start, VT_I2, true, true},
    {"ListenPort", DISPID_ListenPort, VT_I4, true, true},
    {"EncoderListenPort", DISPID_EncoderListenPort, VT_I4, true, true},
    {"ConnectURL", DISPID_ConnectURL, VT_BSTR, true, true},
    {"ConnectPort", DISPID_ConnectPort, VT_I4, true, true},
    {"ConnectEncodeURL", DISPID_ConnectEncodeURL, VT_BSTR, true, true},
    {"ConnectEncoderPort", DISPID_ConnectEncoderPort, VT_I4, true, true},
    {"OnAirURL", DISPID_OnAirURL, VT_BSTR, true, true},
    {"OffAirURL", DISPID_OffAirURL, VT_BSTR, true, true},
    {"Launcher", DISPID_Launcher, VT_I2, true, true},
};

constexpr CInstallerMember kPropertyMap[] = {
    {"GlobalTag", DISPID_GlobalTag, VT_BSTR, true, true},
    {"Start", DISPID_Start, VT_I2, true, true},
    {"ListenPort", DISPID_ListenPort, VT_I4, true, true},
    {"EncoderListenPort", DISPID_EncoderListenPort, VT_I4, true, true},
    {"ConnectURL", DISPID_ConnectURL, VT_BSTR, true, true},
    {"ConnectPort", DISPID_ConnectPort, VT_I4, true, true},
    {"EncodeURL", DISPID_ConnectEncodeURL, VT_BSTR, true, true},
    {"ConnectEncoderPort", DISPID_ConnectEncoderPort, VT_I4, true, true},
    {"OnAirURL", DISPID_OnAirURL, VT_BSTR, true, true},
    {"OffAirURL", DISPID_OffAirURL, VT_BSTR, true, true},
    {"Launcher", DISPID_Launcher, VT_I2, true, true},
};

} // namespace

std::span<const CInstallerMember> InstallerMembers()
{
    return kMembers;
}

std::span<const CInstallerMember> PersistedProperties()
{
    return kPropertyMap;
}

std::span<const CInstallerMember> ScriptProperties()
{
    // ProgName (2) to Argument (9).
    return std::span<const CInstallerMember>(kMembers).subspan(1, 8);
}

const CInstallerMember *FindInstallerMember(std::string_view name)
{
    for (const CInstallerMember &member : kMembers)
        if (std::string_view(member.name).size() == name.size() &&
            ::strncasecmp(member.name, name.data(), name.size()) == 0)
            return &member;
    return nullptr;
}

const CInstallerMember *FindInstallerMember(DISPID dispid)
{
    for (const CInstallerMember &member : kMembers)
        if (member.dispid == dispid)
            return &member;
    return nullptr;
}
