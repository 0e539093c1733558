// The scripted loopback HTTP server of the Windows tests (see loopback_server.h). One accept thread and
// one thread per connection; every blocking socket call is a select() with a short timeout so that
// StopLoopbackServer can end all of them promptly without closing sockets under another thread's feet.
#include "loopback_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <deque>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct LoopbackServer {
    SOCKET listener;
    uint16_t port;
    HANDLE stopEvent;  // manual reset; set by StopLoopbackServer
    HANDLE acceptThread;
    CRITICAL_SECTION lock;  // guards everything below
    std::deque<LoopbackAnswer> queued;
    LoopbackAnswer defaultAnswer;
    LoopbackHandler handler;
    void* handlerContext;
    std::vector<LoopbackRequest> requests;
    size_t nextIndex;
    size_t connections;
    std::vector<HANDLE> connectionThreads;
};

namespace {

const uint32_t PollSliceMs = 50;
const size_t MaxHeadBytes = 64 * 1024;
const size_t MaxBodyBytes = 16 * 1024 * 1024;

struct Connection {
    LoopbackServer* server;
    SOCKET socket;
};

int Stopping(LoopbackServer* server)
{
    return WaitForSingleObject(server->stopEvent, 0) == WAIT_OBJECT_0;
}

// Waits until the socket is readable (or writable); 1 ready, 0 stopping or timed out, -1 error.
int WaitSocket(LoopbackServer* server, SOCKET s, int forWrite, uint32_t timeoutMs)
{
    uint64_t until = GetTickCount64() + timeoutMs;
    for (;;) {
        if (Stopping(server)) return 0;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {0, (long)PollSliceMs * 1000};
        int r = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
        if (r < 0) return -1;
        if (r > 0) return 1;
        if (GetTickCount64() >= until) return 0;
    }
}

// Sleeps up to ms; 0 when the server stops meanwhile.
int PauseUnlessStopping(LoopbackServer* server, uint32_t ms)
{
    return WaitForSingleObject(server->stopEvent, ms) == WAIT_TIMEOUT;
}

int SendAll(LoopbackServer* server, SOCKET s, const char* data, size_t size)
{
    while (size > 0) {
        if (WaitSocket(server, s, 1, 30000) != 1) return 0;
        int chunk = size > 65536 ? 65536 : (int)size;
        int sent = send(s, data, chunk, 0);
        if (sent <= 0) return 0;
        data += sent;
        size -= (size_t)sent;
    }
    return 1;
}

int EqualNoCase(const std::string& a, const char* b)
{
    size_t n = strlen(b);
    if (a.size() != n) return 0;
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return 0;
    }
    return 1;
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// Splits the head into request line and headers. 0 when the request line is malformed.
int ParseHead(const std::string& head, LoopbackRequest* request)
{
    size_t lineEnd = head.find("\r\n");
    std::string first = head.substr(0, lineEnd);
    size_t sp1 = first.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : first.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) return 0;
    request->method = first.substr(0, sp1);
    request->path = first.substr(sp1 + 1, sp2 - sp1 - 1);
    request->version = first.substr(sp2 + 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos)
            request->headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
        pos = end + 2;
    }
    return 1;
}

const char* ReasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

void CloseConnection(SOCKET s, int reset)
{
    if (reset) {
        linger l = {1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, (const char*)&l, sizeof l);
    } else {
        shutdown(s, SD_SEND);
    }
    closesocket(s);
}

LoopbackAnswer ChooseAnswer(LoopbackServer* server, const LoopbackRequest& request)
{
    LoopbackAnswer answer;
    LoopbackHandler handler = nullptr;
    void* context = nullptr;
    EnterCriticalSection(&server->lock);
    if (!server->queued.empty()) {
        answer = server->queued.front();
        server->queued.pop_front();
    } else if (server->handler) {
        handler = server->handler;
        context = server->handlerContext;
    } else {
        answer = server->defaultAnswer;
    }
    LeaveCriticalSection(&server->lock);
    if (handler) handler(request, &answer, context);
    return answer;
}

void SendAnswer(LoopbackServer* server, SOCKET s, const LoopbackAnswer& answer)
{
    if (!answer.raw.empty()) {
        SendAll(server, s, answer.raw.data(), answer.raw.size());
        return;
    }
    std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                       (answer.reason.empty() ? std::string(ReasonFor(answer.status)) : answer.reason) + "\r\n";
    if (answer.sendContentLength) head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    head += answer.headers;
    head += "\r\n";
    if (!SendAll(server, s, head.data(), head.size())) return;

    size_t total = answer.body.size();
    if (answer.closeAfterBodyBytes >= 0 && (size_t)answer.closeAfterBodyBytes < total)
        total = (size_t)answer.closeAfterBodyBytes;
    size_t chunk = answer.dripChunkBytes ? answer.dripChunkBytes : (total ? total : 1);
    for (size_t off = 0; off < total; off += chunk) {
        if (answer.dripChunkBytes && !PauseUnlessStopping(server, answer.dripDelayMs)) return;
        size_t n = total - off < chunk ? total - off : chunk;
        if (!SendAll(server, s, answer.body.data() + off, n)) return;
    }
}

DWORD WINAPI ConnectionThread(void* param)
{
    Connection* c = (Connection*)param;
    LoopbackServer* server = c->server;
    SOCKET s = c->socket;
    delete c;

    // The head: everything up to the blank line.
    std::string data;
    size_t headEnd = std::string::npos;
    char buf[8192];
    while (headEnd == std::string::npos) {
        if (data.size() > MaxHeadBytes || WaitSocket(server, s, 0, 30000) != 1) {
            CloseConnection(s, 0);
            return 0;
        }
        int got = recv(s, buf, sizeof buf, 0);
        if (got <= 0) {
            closesocket(s);
            return 0;
        }
        data.append(buf, (size_t)got);
        headEnd = data.find("\r\n\r\n");
    }
    LoopbackRequest request;
    request.rawHead = data.substr(0, headEnd);
    if (!ParseHead(request.rawHead, &request)) {
        CloseConnection(s, 0);
        return 0;
    }
    size_t bodyLength = 0;
    if (const std::string* cl = FindLoopbackHeader(request, "Content-Length"))
        bodyLength = strtoul(cl->c_str(), nullptr, 10);
    if (bodyLength > MaxBodyBytes) bodyLength = MaxBodyBytes;
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < bodyLength) {
        if (WaitSocket(server, s, 0, 30000) != 1) break;
        int got = recv(s, buf, sizeof buf, 0);
        if (got <= 0) break;
        request.body.append(buf, (size_t)got);
    }
    if (request.body.size() > bodyLength) request.body.resize(bodyLength);
    request.arrivedAt = GetTickCount64();

    // Chosen before the request is recorded: a test that sees the request may script the next answer.
    LoopbackAnswer answer = ChooseAnswer(server, request);
    EnterCriticalSection(&server->lock);
    request.index = server->nextIndex++;
    server->requests.push_back(request);
    LeaveCriticalSection(&server->lock);

    if (answer.neverAnswer) {
        PauseUnlessStopping(server, answer.holdMs);
        CloseConnection(s, answer.resetOnClose);
        return 0;
    }
    if (answer.delayMs && !PauseUnlessStopping(server, answer.delayMs)) {
        CloseConnection(s, 1);
        return 0;
    }
    SendAnswer(server, s, answer);
    CloseConnection(s, answer.resetOnClose);
    return 0;
}

DWORD WINAPI AcceptThread(void* param)
{
    LoopbackServer* server = (LoopbackServer*)param;
    for (;;) {
        int ready = WaitSocket(server, server->listener, 0, 0xFFFFFFFFu);
        if (Stopping(server)) break;
        if (ready != 1) continue;
        SOCKET s = accept(server->listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) continue;
        Connection* c = new Connection{server, s};
        HANDLE t = CreateThread(nullptr, 0, ConnectionThread, c, 0, nullptr);
        EnterCriticalSection(&server->lock);
        server->connections++;
        if (t) server->connectionThreads.push_back(t);
        LeaveCriticalSection(&server->lock);
        if (!t) {
            delete c;
            closesocket(s);
        }
    }
    return 0;
}

int EnsureWinsock()
{
    static int started = 0;
    if (!started) {
        WSADATA wsa;
        if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 0;
        started = 1;
    }
    return 1;
}

}  // namespace

LoopbackServer* StartLoopbackServer(uint16_t port)
{
    if (!EnsureWinsock()) return nullptr;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return nullptr;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    int len = sizeof addr;
    if (bind(s, (sockaddr*)&addr, sizeof addr) != 0 || listen(s, 16) != 0 ||
        getsockname(s, (sockaddr*)&addr, &len) != 0) {
        closesocket(s);
        return nullptr;
    }
    LoopbackServer* server = new LoopbackServer();
    server->listener = s;
    server->port = ntohs(addr.sin_port);
    server->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    server->handler = nullptr;
    server->handlerContext = nullptr;
    server->nextIndex = 0;
    server->connections = 0;
    InitializeCriticalSection(&server->lock);
    server->acceptThread = server->stopEvent ? CreateThread(nullptr, 0, AcceptThread, server, 0, nullptr) : nullptr;
    if (!server->acceptThread) {
        if (server->stopEvent) CloseHandle(server->stopEvent);
        DeleteCriticalSection(&server->lock);
        closesocket(s);
        delete server;
        return nullptr;
    }
    return server;
}

void StopLoopbackServer(LoopbackServer* server)
{
    if (!server) return;
    SetEvent(server->stopEvent);
    WaitForSingleObject(server->acceptThread, INFINITE);
    CloseHandle(server->acceptThread);
    // No connection thread can appear any more.
    for (HANDLE t : server->connectionThreads) {
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    }
    closesocket(server->listener);
    CloseHandle(server->stopEvent);
    DeleteCriticalSection(&server->lock);
    delete server;
}

uint16_t LoopbackPort(const LoopbackServer* server)
{
    return server->port;
}

void QueueLoopbackAnswer(LoopbackServer* server, const LoopbackAnswer& answer)
{
    EnterCriticalSection(&server->lock);
    server->queued.push_back(answer);
    LeaveCriticalSection(&server->lock);
}

void SetLoopbackDefaultAnswer(LoopbackServer* server, const LoopbackAnswer& answer)
{
    EnterCriticalSection(&server->lock);
    server->defaultAnswer = answer;
    LeaveCriticalSection(&server->lock);
}

void SetLoopbackHandler(LoopbackServer* server, LoopbackHandler handler, void* context)
{
    EnterCriticalSection(&server->lock);
    server->handler = handler;
    server->handlerContext = context;
    LeaveCriticalSection(&server->lock);
}

std::vector<LoopbackRequest> LoopbackRequests(LoopbackServer* server)
{
    EnterCriticalSection(&server->lock);
    std::vector<LoopbackRequest> copy = server->requests;
    LeaveCriticalSection(&server->lock);
    return copy;
}

size_t LoopbackRequestCount(LoopbackServer* server)
{
    EnterCriticalSection(&server->lock);
    size_t n = server->requests.size();
    LeaveCriticalSection(&server->lock);
    return n;
}

void ClearLoopbackRequests(LoopbackServer* server)
{
    EnterCriticalSection(&server->lock);
    server->requests.clear();
    LeaveCriticalSection(&server->lock);
}

int WaitForLoopbackRequests(LoopbackServer* server, size_t count, uint32_t timeoutMs)
{
    uint64_t until = GetTickCount64() + timeoutMs;
    for (;;) {
        if (LoopbackRequestCount(server) >= count) return 1;
        if (GetTickCount64() >= until) return 0;
        Sleep(10);
    }
}

size_t LoopbackConnectionCount(LoopbackServer* server)
{
    EnterCriticalSection(&server->lock);
    size_t n = server->connections;
    LeaveCriticalSection(&server->lock);
    return n;
}

const std::string* FindLoopbackHeader(const LoopbackRequest& request, const char* name)
{
    for (const auto& h : request.headers)
        if (EqualNoCase(h.first, name)) return &h.second;
    return nullptr;
}

size_t CountLoopbackHeader(const LoopbackRequest& request, const char* name)
{
    size_t n = 0;
    for (const auto& h : request.headers)
        if (EqualNoCase(h.first, name)) ++n;
    return n;
}

uint16_t FindUnusedLoopbackPort()
{
    if (!EnsureWinsock()) return 0;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return 0;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int len = sizeof addr;
    uint16_t port = 0;
    if (bind(s, (sockaddr*)&addr, sizeof addr) == 0 && getsockname(s, (sockaddr*)&addr, &len) == 0)
        port = ntohs(addr.sin_port);
    closesocket(s);
    return port;
}
