#pragma once
// The program's requests to the service's web site: the on-air and off-air
// notices, the advertisement query and the framing of the site's one-line
// replies ("<start>" text "<end>"). None of them is ever shown or logged when
// it fails: the program goes on as if the site had said nothing.
#include <string>

namespace platform {
class CInternetSession;
}

// The text between "<start>" and "<end>" of a reply line, or "DataError".
std::string ParseWebReply(const std::string &line);

// The service site's address for `path` ("/ad/callad.jsp"). The base comes
// from VELMOR_SERVICE_URL when set, else from the build's configuration.
std::string ServiceSiteUrl(const char *path);

// This computer's first IPv4 address by its host name, or "none".
std::string GetLocalAddress();

// Requests `onairrul` / `offairurl` of the command line as they stand; an
// empty one sends nothing. Waits for the answer (bounded), never reads it.
void SendOnAirNotice();
void SendOffAirNotice();

// Asks the site for an advertisement clip. True with the clip's URL in
// `clipUrl` when one was named; false for none, an empty or unframed reply,
// or no answer at all.
bool QueryAdvertisement(std::string *clipUrl);

// Reads the first line of what `url` answers and returns ParseWebReply of
// it; "DataError" when nothing came back or no line could be read.
std::string QueryFramedReply(platform::CInternetSession &session, const std::string &url);
