#pragma once
// One HTTP GET on libcurl, in the shape of the downloader's opening sequence:
// the request goes out with the caller's agent name and without any cache,
// redirects are followed a bounded number of times, and the final answer's
// headers reach the sink before its first body byte, so the sink can check
// the status and create its target only then.
//
// The body is read until the server closes the connection (the request asks
// for that), not until curl thinks the announced length is reached: only
// then can a body longer than its Content-Length be told from a good one.
// The sink compares what came with what was announced.
//
// Sink calls happen on the calling thread, inside curl's callbacks; they
// must not throw (Perform catches anything that does and stops).
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CUrlRequest {
public:
    // The final answer's status and the headers the downloader reads.
    struct Response {
        long status = 0;
        std::int64_t contentLength = -1; // -1 when absent
        bool contentLengthValid = true;  // false: present but not one number
        bool chunked = false;            // Transfer-Encoding: the length does not count
        std::string contentRange;
        std::string etag;
        std::string lastModified;
    };

    class ISink {
    public:
        // The final answer's headers are in. False ends the transfer.
        virtual bool OnResponse(const Response &response) = 0;
        // The next body bytes. False ends the transfer.
        virtual bool OnBody(const char *data, std::size_t bytes) = 0;
        // Asked regularly, also while nothing arrives. True ends the transfer.
        virtual bool ShouldStop() = 0;

    protected:
        ~ISink() = default;
    };

    struct Options {
        std::string agent;           // User-Agent
        std::int64_t rangeFrom = -1; // >= 0: ask for the bytes from there on
        std::string ifRange;         // validator for If-Range, with rangeFrom
        long connectTimeoutMs = 15000;
        long stallTimeoutSeconds = 30; // nothing received for this long ends it
        long totalTimeoutMs = 0;       // 0: no limit on the whole transfer
        long maxRedirects = 5;
        // When set, a redirect is followed only to a URL it accepts (the
        // Location resolved against the URL that answered with it); any
        // other ends the transfer before the next request goes out.
        std::function<bool(const std::string &url)> followRedirect;
    };

    struct Result {
        bool initFailed = false; // no curl handle could be made
        CURLcode code = CURLE_OK;
        bool responded = false;       // the final answer's headers were in
        bool sinkFailed = false;      // a sink call threw; the transfer was stopped
        bool redirectRefused = false; // followRedirect refused where it led
        std::string errorText;        // curl's own description of a failure
    };

    // Size of the receive buffer curl fills per callback.
    static constexpr long receiveBufferBytes = 64 * 1024;

    static Result Perform(const std::string &url, const Options &options, ISink &sink);
};
