#include "CUrlRequest.h"

#include "platform/CurlHolders.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

struct Transfer {
    CUrlRequest::ISink &sink;
    const CUrlRequest::Options &options;
    CURL *curl = nullptr;
    CUrlRequest::Response response;
    std::string location;
    bool responded = false;
    bool sinkThrew = false;
    bool redirectRefused = false;
};

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool NameIs(std::string_view name, std::string_view wanted)
{
    if (name.size() != wanted.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != wanted[i])
            return false;
    return true;
}

// A Content-Length value: digits only, no overflow. -1 when it is not one.
std::int64_t ParseLength(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// A status line "HTTP/1.1 200 OK" starts a new answer (a redirect, a 100
// Continue or the final one).
bool StartAnswer(std::string_view line, Transfer &t)
{
    if (line.size() < 5 || line.substr(0, 5) != "HTTP/")
        return false;
    t.response = CUrlRequest::Response();
    t.location.clear();
    const std::size_t blank = line.find(' ');
    if (blank != std::string_view::npos) {
        long status = 0;
        for (std::size_t i = blank + 1; i < line.size() && line[i] >= '0' && line[i] <= '9' && status < 1000;
             ++i)
            status = status * 10 + (line[i] - '0');
        t.response.status = status;
    }
    return true;
}

void ReadHeader(std::string_view line, Transfer &t)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    CUrlRequest::Response &r = t.response;
    if (NameIs(name, "content-length")) {
        const std::int64_t length = ParseLength(value);
        if (length < 0 || (r.contentLength >= 0 && r.contentLength != length))
            r.contentLengthValid = false;
        else
            r.contentLength = length;
    } else if (NameIs(name, "transfer-encoding")) {
        r.chunked = true;
    } else if (NameIs(name, "content-range")) {
        r.contentRange = std::string(value);
    } else if (NameIs(name, "etag")) {
        r.etag = std::string(value);
    } else if (NameIs(name, "last-modified")) {
        r.lastModified = std::string(value);
    } else if (NameIs(name, "location")) {
        t.location = std::string(value);
    }
}

bool IsRedirect(const Transfer &t)
{
    const long s = t.response.status;
    return s >= 300 && s < 400 && s != 304 && !t.location.empty();
}

// Whether curl goes on to another request after this answer: a redirect it
// follows, or an interim 1xx answer.
bool IsInterim(const Transfer &t)
{
    const long s = t.response.status;
    if (s >= 100 && s < 200)
        return true;
    return IsRedirect(t);
}

// Where the redirect of this answer leads: its Location resolved against the
// URL that gave it, as curl resolves it to follow; empty when it cannot be.
std::string RedirectTarget(const Transfer &t)
{
    const char *current = nullptr;
    if (curl_easy_getinfo(t.curl, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || current == nullptr)
        return std::string();
    platform::CurlUrl url(curl_url());
    char *text = nullptr;
    if (!url || curl_url_set(url.get(), CURLUPART_URL, current, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, t.location.c_str(), 0) != CURLUE_OK ||
        curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK)
        return std::string();
    const platform::CurlText owned(text);
    return owned.get();
}

// A redirect the options do not allow ends the transfer here.
bool RedirectAllowed(Transfer &t)
{
    if (!IsRedirect(t) || !t.options.followRedirect)
        return true;
    const std::string target = RedirectTarget(t);
    if (!target.empty() && t.options.followRedirect(target))
        return true;
    t.redirectRefused = true;
    return false;
}

bool Respond(Transfer &t)
{
    t.responded = true;
    if (t.response.chunked) {
        t.response.contentLength = -1;
        t.response.contentLengthValid = true;
    }
    return t.sink.OnResponse(t.response);
}

size_t OnHeader(char *data, size_t size, size_t count, void *user) noexcept
{
    auto *t = static_cast<Transfer *>(user);
    const size_t bytes = size * count;
    try {
        const std::string_view line(data, bytes);
        if (t->responded || StartAnswer(line, *t))
            return bytes;
        if (!Trim(line).empty()) {
            ReadHeader(line, *t);
            return bytes;
        }
        // The blank line ends this answer's headers.
        if (IsInterim(*t))
            return RedirectAllowed(*t) ? bytes : 0;
        return Respond(*t) ? bytes : 0;
    } catch (...) {
        t->sinkThrew = true;
        return 0;
    }
}

size_t OnBody(char *data, size_t size, size_t count, void *user) noexcept
{
    auto *t = static_cast<Transfer *>(user);
    const size_t bytes = size * count;
    try {
        if (!t->responded && !Respond(*t))
            return 0;
        return t->sink.OnBody(data, bytes) ? bytes : 0;
    } catch (...) {
        t->sinkThrew = true;
        return 0;
    }
}

int OnProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept
{
    auto *t = static_cast<Transfer *>(user);
    try {
        return t->sink.ShouldStop() ? 1 : 0;
    } catch (...) {
        t->sinkThrew = true;
        return 1;
    }
}

} // namespace

CUrlRequest::Result CUrlRequest::Perform(const std::string &url, const Options &options, ISink &sink)
{
    Result result;
    platform::CurlGlobalInit();
    platform::CurlHandle curl(curl_easy_init());
    platform::CurlHeaders headers;
    const std::string ifRange = "If-Range: " + options.ifRange;
    const bool headersMade = platform::AppendHeader(headers, "Cache-Control: no-cache") &&
                             platform::AppendHeader(headers, "Pragma: no-cache") &&
                             platform::AppendHeader(headers, "Connection: close") &&
                             (options.rangeFrom < 0 || options.ifRange.empty() ||
                              platform::AppendHeader(headers, ifRange.c_str()));
    if (!curl || !headersMade) {
        result.initFailed = true;
        result.code = CURLE_FAILED_INIT;
        return result;
    }

    Transfer transfer{sink, options, curl.get()};
    char errorText[CURL_ERROR_SIZE] = {};
    const std::string range =
        options.rangeFrom >= 0 ? std::to_string(options.rangeFrom) + "-" : std::string();
    CURL *c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_USERAGENT, options.agent.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    if (!range.empty())
        curl_easy_setopt(c, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, options.maxRedirects);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options.stallTimeoutSeconds);
    if (options.totalTimeoutMs > 0)
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, receiveBufferBytes);
    curl_easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

    result.code = curl_easy_perform(c);
    // A final answer without any body byte (an empty file, a 404 without
    // text) still reaches the sink.
    if (result.code == CURLE_OK && !transfer.responded && !transfer.sinkThrew) {
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        if (status != 0 && transfer.response.status == 0)
            transfer.response.status = status;
        try {
            if (!Respond(transfer))
                result.code = CURLE_WRITE_ERROR;
        } catch (...) {
            transfer.sinkThrew = true;
        }
    }
    result.responded = transfer.responded;
    result.sinkFailed = transfer.sinkThrew;
    result.redirectRefused = transfer.redirectRefused;
    if (transfer.sinkThrew && result.code == CURLE_OK)
        result.code = CURLE_WRITE_ERROR;
    result.errorText = transfer.redirectRefused ? "The answer redirected to an address that is not allowed."
                       : errorText[0]           ? errorText
                                                : curl_easy_strerror(result.code);
    return result;
}
