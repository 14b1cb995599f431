#pragma once
// The control's members by name: what its dispatch side answers (the type
// library's view of IInstaller) and its property map, the persisted names a
// property bag is read with, in load order. Both the control and its host
// use these tables.
//
// Load order of the property map (after the extent entries "_cx", "_cy"):
//   "GlobalTag", "Start", "ListenPort", "EncoderListenPort", "ConnectURL",
//   "ConnectPort", "EncodeURL", "ConnectEncoderPort", "OnAirURL",
//   "OffAirURL", "Launcher"
// "EncodeURL" fills ConnectEncodeURL; "Launcher" is last, so every other
// persisted property is in place when writing it starts the install.
#include "ComVariant.h"
#include "IInstaller.h"

#include <span>
#include <string_view>

struct CInstallerMember {
    const char *name; // member name, or the persisted name in the map
    DISPID dispid;
    VARTYPE vt;  // the property's type; VT_EMPTY for methods
    bool canGet; // a get exists
    bool canPut; // a put exists
};

// The extent entries that come first in a property bag.
inline constexpr char kExtentX[] = "_cx";
inline constexpr char kExtentY[] = "_cy";

// Every member the dispatch side answers, in DISPID order.
std::span<const CInstallerMember> InstallerMembers();
// The property map in load order.
std::span<const CInstallerMember> PersistedProperties();
// The properties a page sets from script (no persisted name), in the order
// KerrowHost.exe sets them: ProgName, ExeName, Script, ProgKorName,
// ViewConfirm, ViewProgress, Waiting, Argument.
std::span<const CInstallerMember> ScriptProperties();

// A member by name (without regard to case); null when there is none.
const CInstallerMember *FindInstallerMember(std::string_view name);
const CInstallerMember *FindInstallerMember(DISPID dispid);
