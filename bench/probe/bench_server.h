// The benchmark's connector stand-in: an HTTP/1.1 server on 127.0.0.1 that answers every status poll with
// one fixed document and counts the polls, so that the request rate of a measured window is a count made
// on the wire. Used by bench_probe only.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

struct BenchServer {
    SOCKET listener;
    uint16_t port;
    volatile LONG statusRequests;  // GET /api/connector/desktop answered so far
    // QueryPerformanceCounter when the first status request since the probe last set this to 0 had
    // arrived whole (0: none yet); the start-up breakdown's "first request received".
    volatile LONG64 firstStatusAt;
    const char* document;          // the status body served on every poll
    HANDLE acceptThread;
};

// Listens on a free port of 127.0.0.1 and serves document (zero-terminated, kept by the caller).
// Non-zero on success.
int StartBenchServer(BenchServer* server, const char* document);

// Closes the listener; connections already open end with their clients.
void StopBenchServer(BenchServer* server);
