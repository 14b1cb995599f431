#pragma once
// The key the build's own stand-in site signs its scripts with (--sign-key,
// <build>/site/site.key), and its public half as "Mirvane.cfg" and
// KerrowInstaller.dll carry it.
#include <fstream>
#include <string>

inline std::string BuildSiteKey()
{
    return std::string(VELMOR_BINARY_DIR) + "/site/site.key";
}

inline std::string BuildSitePublicKey()
{
    std::ifstream in(std::string(VELMOR_BINARY_DIR) + "/site/site.pub");
    std::string key;
    std::getline(in, key);
    return key;
}
