#pragma once
// RAII holders for the libcurl handles the web queries and the downloader
// keep, and the one process-wide libcurl initialisation. Header only: a
// target that includes it links libcurl itself (CURL::libcurl).
//
//   platform::CurlGlobalInit();
//   platform::CurlHandle curl(curl_easy_init());
//   platform::CurlHeaders headers;
//   platform::AppendHeader(headers, "Pragma: no-cache");
#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace platform {

struct CurlEasyCleanup {
    void operator()(CURL *curl) const noexcept
    {
        if (curl)
            curl_easy_cleanup(curl);
    }
};
struct CurlSlistFree {
    void operator()(curl_slist *list) const noexcept
    {
        if (list)
            curl_slist_free_all(list);
    }
};

struct CurlUrlCleanup {
    void operator()(CURLU *url) const noexcept
    {
        if (url)
            curl_url_cleanup(url);
    }
};
struct CurlFree {
    void operator()(char *text) const noexcept { curl_free(text); }
};

using CurlHandle = std::unique_ptr<CURL, CurlEasyCleanup>;
using CurlHeaders = std::unique_ptr<curl_slist, CurlSlistFree>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;
using CurlText = std::unique_ptr<char, CurlFree>;

// Appends one request header line. curl_slist_append returns null and leaves
// the list as it was when it runs out of memory; false then.
inline bool AppendHeader(CurlHeaders &headers, const char *line)
{
    curl_slist *grown = curl_slist_append(headers.get(), line);
    if (!grown)
        return false;
    headers.release();
    headers.reset(grown);
    return true;
}

// curl_global_init, once per process, before the first easy handle.
inline void CurlGlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace platform
