#pragma once
// One file to fetch for an installation: the item's "Src" URL and, when the
// item carries one, its "SHA256" digest. The file fetch stores the local
// path of the finished download in it.
#include <string>

struct CDownloadItem {
    std::string url;       // "Src"
    std::string sha256;    // "SHA256" in hexadecimal; empty: no check
    std::string localPath; // set by CDownloader::FetchFile on success
};
