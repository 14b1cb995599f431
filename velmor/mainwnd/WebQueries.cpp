#include "WebQueries.h"

#include "CommandLineArgs.h"
#include "platform/InternetSession.h"

#include <netdb.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#ifndef VELMOR_SERVICE_URL
#define VELMOR_SERVICE_URL "http://127.0.0.1:18080"
#endif

namespace {

constexpr char kStart[] = "<start>";
constexpr char kEnd[] = "<end>";
constexpr std::size_t kStartLen = sizeof kStart - 1;
constexpr std::size_t kEndLen = sizeof kEnd - 1;
constexpr std::size_t kReadBufferBytes = 4096;

void SendNotice(const char *url)
{
    if (url == nullptr || *url == '\0')
        return;
    platform::CInternetSession session;
    // The reply is not read; dropping the file closes it.
    session.OpenURL(url);
}

} // namespace

std::string ParseWebReply(const std::string &line)
{
    if (line.size() >= kStartLen + kEndLen && line.compare(0, kStartLen, kStart) == 0 &&
        line.compare(line.size() - kEndLen, kEndLen, kEnd) == 0)
        return line.substr(kStartLen, line.size() - kStartLen - kEndLen);
    return "DataError";
}

std::string ServiceSiteUrl(const char *path)
{
    const char *configured = std::getenv("VELMOR_SERVICE_URL");
    std::string base = configured != nullptr && *configured != '\0' ? configured : VELMOR_SERVICE_URL;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + path;
}

std::string GetLocalAddress()
{
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return "none";
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        return "none";
    std::unique_ptr<addrinfo, void (*)(addrinfo *)> guard(found, freeaddrinfo);
    char text[INET_ADDRSTRLEN] = {};
    const auto *addr = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    if (inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text) == nullptr)
        return "none";
    return text;
}

std::string QueryFramedReply(platform::CInternetSession &session, const std::string &url)
{
    std::unique_ptr<platform::CHttpFile> file = session.OpenURL(url);
    if (!file)
        return "DataError";
    std::string line;
    if (!file->ReadString(line, kReadBufferBytes))
        return "DataError";
    return ParseWebReply(line);
}

void SendOnAirNotice()
{
    SendNotice(GetAppArgs().onairrul);
}

void SendOffAirNotice()
{
    SendNotice(GetAppArgs().offairurl);
}

bool QueryAdvertisement(std::string *clipUrl)
{
    platform::CInternetSession session;
    const std::string reply = QueryFramedReply(session, ServiceSiteUrl("/ad/callad.jsp"));
    if (reply == "DataError" || reply.empty() || reply == "none")
        return false;
    if (clipUrl != nullptr)
        *clipUrl = reply;
    return true;
}
