// The benchmark's counting connector stand-in (see bench_server.h): one thread accepts, one thread per
// connection reads requests and answers them with keep-alive, as the connector does.
#include "bench_server.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { RequestBytes = 8192 };

struct Connection {
    BenchServer* server;
    SOCKET socket;
};

static int SendAll(SOCKET s, const char* data, int bytes)
{
    while (bytes > 0) {
        int sent = send(s, data, bytes, 0);
        if (sent <= 0)
            return 0;
        data += sent;
        bytes -= sent;
    }
    return 1;
}

static char* FindHeaderEnd(char* buffer, int filled)
{
    for (int i = 0; i + 4 <= filled; i++)
        if (memcmp(buffer + i, "\r\n\r\n", 4) == 0)
            return buffer + i;
    return nullptr;
}

static int ContentLength(const char* head)
{
    const char* p = head;
    while ((p = strchr(p, '\n')) != nullptr) {
        p++;
        if (_strnicmp(p, "Content-Length:", 15) == 0)
            return atoi(p + 15);
    }
    return 0;
}

// Reads requests until the client closes; a request body (of the POST kinds) is read and ignored.
static DWORD WINAPI ServeConnection(void* param)
{
    Connection* connection = static_cast<Connection*>(param);
    BenchServer* server = connection->server;
    SOCKET s = connection->socket;
    free(connection);
    static const char headerFormat[] = "HTTP/1.1 %d %s\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                       "Content-Length: %d\r\nConnection: keep-alive\r\n\r\n";
    char buffer[RequestBytes];
    int filled = 0;
    for (;;) {
        char* end = nullptr;
        while (!(end = FindHeaderEnd(buffer, filled))) {
            if (filled == RequestBytes)
                goto done;
            int got = recv(s, buffer + filled, RequestBytes - filled, 0);
            if (got <= 0)
                goto done;
            filled += got;
        }
        end += 4;
        char head[RequestBytes + 1];
        int headBytes = int(end - buffer);
        memcpy(head, buffer, size_t(headBytes));
        head[headBytes] = 0;
        int bodyBytes = ContentLength(head);
        int total = headBytes + bodyBytes;
        if (filled >= total) {
            memmove(buffer, buffer + total, size_t(filled - total));
            filled -= total;
        } else {  // the rest of a POST body: drained, never looked at
            int need = total - filled;
            filled = 0;
            while (need > 0) {
                int got = recv(s, buffer, need < RequestBytes ? need : RequestBytes, 0);
                if (got <= 0)
                    goto done;
                need -= got;
            }
        }

        int isStatus = strncmp(head, "GET /api/connector/desktop ", 27) == 0;
        int isPost = strncmp(head, "POST ", 5) == 0;
        const char* body = isStatus ? server->document : isPost ? "{}" : "";
        int bytes = int(strlen(body));
        char header[256];
        int headerBytes = snprintf(header, sizeof header, headerFormat, isStatus || isPost ? 200 : 404,
                                   isStatus || isPost ? "OK" : "Not Found", bytes);
        if (isStatus) {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            InterlockedCompareExchange64(&server->firstStatusAt, now.QuadPart, 0);
            InterlockedIncrement(&server->statusRequests);
        }
        if (!SendAll(s, header, headerBytes) || !SendAll(s, body, bytes))
            break;
    }
done:
    closesocket(s);
    return 0;
}

static DWORD WINAPI AcceptConnections(void* param)
{
    BenchServer* server = static_cast<BenchServer*>(param);
    for (;;) {
        SOCKET s = accept(server->listener, nullptr, nullptr);
        if (s == INVALID_SOCKET)
            return 0;
        Connection* connection = static_cast<Connection*>(malloc(sizeof(Connection)));
        connection->server = server;
        connection->socket = s;
        HANDLE thread = CreateThread(nullptr, 0, ServeConnection, connection, 0, nullptr);
        if (thread)
            CloseHandle(thread);
        else {
            closesocket(s);
            free(connection);
        }
    }
}

int StartBenchServer(BenchServer* server, const char* document)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 0;
    server->document = document;
    server->statusRequests = 0;
    server->firstStatusAt = 0;
    server->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (server->listener == INVALID_SOCKET)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // a free port, read back below
    int length = sizeof address;
    if (bind(server->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(server->listener, 16) != 0 ||
        getsockname(server->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(server->listener);
        return 0;
    }
    server->port = ntohs(address.sin_port);
    server->acceptThread = CreateThread(nullptr, 0, AcceptConnections, server, 0, nullptr);
    return server->acceptThread != nullptr;
}

void StopBenchServer(BenchServer* server)
{
    closesocket(server->listener);
    WaitForSingleObject(server->acceptThread, 5000);
    CloseHandle(server->acceptThread);
}
