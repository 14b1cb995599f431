#pragma once
// Fetching a script for the update decision: the update script and the
// launch script, into the temporary folder. When the configuration holds a
// public key, a script counts only with a valid Ed25519 signature, fetched
// from the script's URL plus ".sig"; without the key no signature is asked
// for.
#include "CDownloader.h"

#include <string>

// Fetches the script at `url`; on success `url` becomes the local path. The
// downloader's own messages are off: a failed fetch is the caller's outcome.
bool FetchUpdateScript(const CDownloader &downloader, std::string &url, const std::string &publicKey);
