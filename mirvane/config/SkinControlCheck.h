#pragma once
// The start-up check of the skin control ActSkn43.ocx, before any window is
// made: its registration under its class id, the file it names, and that
// file's version (at least 4.3.0.0). Every window of the updater loads the
// control from that registered path at run time.
#include <string>
#include <string_view>

enum class SkinControlState {
    Ok,
    NotRegistered, // no default value under the key, or an empty one
    Missing,       // the registered file does not exist
    Outdated,      // its version is lower than 4.3.0.0 (or it has none)
};

constexpr const char *kSkinControlKey = "CLSID\\{BA8C584B-209C-4d54-8BB1-8AB5F1DCA18E}\\InprocServer32";
constexpr const char *kSkinControlVersion = "4.3.0.0";

// Checks the control; `path` receives the registered path when there is one.
SkinControlState CheckSkinControl(std::string *path = nullptr);

// The message for a failed check, with the product's Korean name; empty for Ok.
std::string SkinControlMessage(SkinControlState state, const std::string &korName);

// Compares two "%d.%d.%d.%d" version texts part by part as numbers (atoi),
// the first differing part deciding. Texts with a different number of parts
// count as `fileVersion` being lower. Below 0, 0 or above 0.
int CompareFileVersionText(std::string_view fileVersion, std::string_view required);
