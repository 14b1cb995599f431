#include "platform/InternetSession.h"

#include "platform/CurlHolders.h"

namespace platform {
namespace {

struct Transfer {
    std::string body;
    std::size_t limit = 0;
    const std::atomic<bool> *abort = nullptr;
};

size_t OnData(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t bytes = size * count;
    if (t->body.size() + bytes > t->limit)
        return 0; // too large: fail the transfer
    t->body.append(data, bytes);
    return bytes;
}

int OnProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *t = static_cast<Transfer *>(user);
    return t->abort->load() ? 1 : 0;
}

} // namespace

bool CHttpFile::ReadString(std::string &line, std::size_t bufferBytes)
{
    if (m_pos >= m_body.size())
        return false;
    std::size_t end = m_body.find('\n', m_pos);
    const std::size_t next = end == std::string::npos ? m_body.size() : end + 1;
    if (end == std::string::npos)
        end = m_body.size();
    if (end > m_pos && m_body[end - 1] == '\r')
        --end;
    line = m_body.substr(m_pos, end - m_pos);
    if (bufferBytes > 0 && line.size() > bufferBytes - 1)
        line.resize(bufferBytes - 1);
    m_pos = next;
    return true;
}

CInternetSession::CInternetSession()
{
    CurlGlobalInit();
}

CInternetSession::~CInternetSession() = default;

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const std::string &url)
{
    if (m_abort.load() || url.empty())
        return nullptr;
    CurlHandle curl(curl_easy_init());
    if (!curl)
        return nullptr;

    Transfer transfer;
    transfer.limit = maxBodyBytes;
    transfer.abort = &m_abort;
    CurlHeaders headers;
    if (!AppendHeader(headers, "Cache-Control: no-cache") || !AppendHeader(headers, "Pragma: no-cache"))
        return nullptr;

    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, totalTimeoutMs);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &OnData);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);

    if (curl_easy_perform(curl.get()) != CURLE_OK)
        return nullptr;
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    return std::make_unique<CHttpFile>(status, std::move(transfer.body));
}

} // namespace platform
