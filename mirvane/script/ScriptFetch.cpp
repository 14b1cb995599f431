#include "ScriptFetch.h"

#include "CLogFile.h"
#include "SignatureCheck.h"

#include <unistd.h>

bool FetchUpdateScript(const CDownloader &downloader, std::string &url, const std::string &publicKey)
{
    CDownloader quiet = downloader;
    quiet.showMessages = false;
    const std::string source = url;
    std::string local = url;
    if (!quiet.FetchScript(local)) {
        VLOG("Mirvane", "스크립트를 받지 못했습니다: %s\n", source.c_str());
        return false;
    }
    if (!publicKey.empty()) {
        std::string signature = source + ".sig";
        const bool signedWell =
            quiet.FetchScript(signature) && VerifyFileSignature(local, signature, publicKey);
        if (!signedWell) {
            VLOG("Mirvane", "스크립트의 서명이 맞지 않아 쓰지 않습니다: %s\n", source.c_str());
            // A script that failed its check is not left where a later read
            // could take it for a good one.
            ::unlink(local.c_str());
            return false;
        }
    }
    url = local;
    return true;
}
