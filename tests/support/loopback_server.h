// A scripted HTTP/1.1 server on 127.0.0.1 for the Windows tests: it stands in for the connector
// application. It runs on Winsock threads inside the test program, records every request it receives
// (method, path, headers, body, arrival time) and answers as the test scripts it: status, headers, body
// bytes, a delay before answering, no answer at all, a connection closed or reset in the middle of the
// body, or a body dripped out slowly.
//
// Use:
//   LoopbackServer* server = StartLoopbackServer(0);          // 0 = pick a free port
//   uint16_t port = LoopbackPort(server);
//   LoopbackAnswer a; a.status = 200; a.body = "...";
//   QueueLoopbackAnswer(server, a);                            // answers the next request
//   ... make requests ...
//   std::vector<LoopbackRequest> seen = LoopbackRequests(server);
//   StopLoopbackServer(server);                                // joins every thread, closes every socket
//
// Which answer a request gets: the oldest queued answer if there is one (each used once), otherwise the
// handler if one is set (called on a connection thread; it must be thread-safe), otherwise the default
// answer (200 with an empty body unless SetLoopbackDefaultAnswer changed it). Every answer carries
// "Connection: close" and the connection is closed after it, so each request uses a connection of its own.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <utility>
#include <vector>

struct LoopbackRequest {
    std::string method;   // "GET", "POST", ...
    std::string path;     // request target as sent, e.g. "/api/connector/desktop"
    std::string version;  // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent, values trimmed
    std::string rawHead;  // request line and header lines exactly as received, without the blank line
    std::string body;     // exactly Content-Length bytes (empty when there is no Content-Length)
    uint64_t arrivedAt;   // GetTickCount64() when the request was complete
    size_t index;         // 0 for the first request the server received, 1 for the next...
};

struct LoopbackAnswer {
    int status = 200;
    std::string reason;   // empty: a standard phrase for the status
    std::string headers;  // extra header lines, each ended by "\r\n" (e.g. "Location: /x\r\n")
    std::string body;
    int sendContentLength = 1;  // 0: no Content-Length; the end of the body is the closed connection
    uint32_t delayMs = 0;       // wait this long after the request arrived before answering
    int neverAnswer = 0;        // 1: read the request, send nothing, hold the connection until holdMs
                                // have passed or the server stops, then close it
    uint32_t holdMs = 60000;
    int closeAfterBodyBytes = -1;  // >= 0: declare the full body length but send only this many body
                                   // bytes, then close the connection
    int resetOnClose = 0;          // 1: close with a reset (RST) instead of an orderly shutdown
    size_t dripChunkBytes = 0;     // > 0: send the body in chunks of this size ...
    uint32_t dripDelayMs = 0;      // ... with this pause before each chunk
    std::string raw;               // non-empty: send exactly these bytes instead of a built answer
};

struct LoopbackServer;

// Handler alternative to queued answers: fills *answer (pre-set to a 200 with an empty body) for the
// request. Called on a connection thread, so it must be thread-safe.
typedef void (*LoopbackHandler)(const LoopbackRequest& request, LoopbackAnswer* answer, void* context);

// Starts listening on 127.0.0.1:port (0 = a free port chosen by the system). Null on failure.
LoopbackServer* StartLoopbackServer(uint16_t port);
// Stops accepting, ends held connections at once, joins every thread, frees the server.
void StopLoopbackServer(LoopbackServer* server);
uint16_t LoopbackPort(const LoopbackServer* server);

void QueueLoopbackAnswer(LoopbackServer* server, const LoopbackAnswer& answer);
void SetLoopbackDefaultAnswer(LoopbackServer* server, const LoopbackAnswer& answer);
void SetLoopbackHandler(LoopbackServer* server, LoopbackHandler handler, void* context);

// Copies of the requests received so far, in order of arrival.
std::vector<LoopbackRequest> LoopbackRequests(LoopbackServer* server);
size_t LoopbackRequestCount(LoopbackServer* server);
// Forgets the recorded requests (indexes keep counting).
void ClearLoopbackRequests(LoopbackServer* server);
// Waits until at least count requests have been recorded; non-zero when they were within timeoutMs.
int WaitForLoopbackRequests(LoopbackServer* server, size_t count, uint32_t timeoutMs);
// Number of connections accepted so far (also those that never sent a complete request).
size_t LoopbackConnectionCount(LoopbackServer* server);

// Value of the first header of that name (compared without regard to ASCII case); null when absent.
const std::string* FindLoopbackHeader(const LoopbackRequest& request, const char* name);
// Number of headers of that name.
size_t CountLoopbackHeader(const LoopbackRequest& request, const char* name);

// A port on 127.0.0.1 that nothing listens on at the moment of the call (bound, then released).
uint16_t FindUnusedLoopbackPort();
