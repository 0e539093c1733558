// The connector request worker: OpenConnectorSession (once, at the window's start-up), StartRequest (the
// controller, UI thread) and RunRequest (one short-lived thread per request). The worker only reports
// facts - a status code and, for Status, a bounded body - and hands the record back through ResultMailbox
// before waking the window with WM_CONNECTOR_RESULT.
#include "api/request_worker.h"

#include <string.h>
#include <wchar.h>
#include <winhttp.h>

#include "api/connector_contract.h"
#include "api/connector_secret.h"
#include "api/status_document.h"

std::atomic<WorkerRequest*> ResultMailbox{nullptr};

const wchar_t* const RequestPaths[RequestKindCount] = {
    L"/api/connector/desktop",         // Status
    L"/api/connector/start",           // Start
    L"/api/connector/stop",            // Stop
    L"/api/connector/desktop/detect",  // Detect
    L"/api/connector/pairing/reset",   // PairingReset
};

namespace {

HINTERNET HttpSession;
HINTERNET HttpConnection;
uint16_t SessionPort;  // the port of HttpConnection, named again in the Origin header

// The Authorization line (88 units with the secret) and the two POST headers (at most 64).
enum { HeaderUnits = 256 };
// 36 001: the document, and one byte more to spot a longer body and to hold the terminating zero.
enum { StatusBodyBytes = sizeof(WorkerRequest::body) };

static_assert(StatusBodyBytes == StatusDocumentMaxBytes + 1, "status body holds the document and its zero");

// Reads the Status body into record->body. A body over the limit, a zero byte in it or a failed read
// turns the status into 0, which the controller treats like an unanswered poll.
void ReadStatusBody(HINTERNET request, WorkerRequest* record)
{
    DWORD count = 0;
    for (;;) {
        DWORD delivered = 0;
        if (!WinHttpReadData(request, record->body + count, StatusBodyBytes - count, &delivered)) {
            record->statusCode = 0;
            return;
        }
        if (delivered == 0) {
            if (memchr(record->body, '\0', count)) record->statusCode = 0;
            record->body[count] = '\0';
            return;
        }
        count += delivered;
        if (count > StatusDocumentMaxBytes) {
            record->statusCode = 0;
            return;
        }
    }
}

// The added headers: the secret's Authorization line when one was published, and for the POST kinds the
// content type and the Origin. Both always fit.
void FormatHeaders(const WorkerRequest* record, wchar_t* headers)
{
    int used = 0;
    if (record->secret[0]) {
        used = _snwprintf(headers, HeaderUnits - 1, L"Authorization: Bearer %ls\r\n", record->secret);
        if (used < 0) used = 0;
    }
    if (record->kind != Status)
        _snwprintf(headers + used, HeaderUnits - 1 - used, PostHeaderFormat, (unsigned)SessionPort);
}

// Hands the record to the UI thread. After the exchange the record belongs to the UI thread, which may
// take and free it at once (a timer tick can find it before the message arrives), so the window handle
// is read first and the record is not touched again.
void Publish(WorkerRequest* record)
{
    HWND target = record->targetWindow;
    ResultMailbox.exchange(record);
    PostMessageW(target, WM_CONNECTOR_RESULT, 0, 0);
}

}  // namespace

int OpenConnectorSession(uint16_t port)
{
    // The window calls this once; a later call (the tests aim at another port) replaces the handles.
    if (HttpConnection) WinHttpCloseHandle(HttpConnection);
    if (HttpSession) WinHttpCloseHandle(HttpSession);
    HttpConnection = nullptr;
    HttpSession = WinHttpOpen(ConnectorUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    if (!HttpSession) return 0;
    WinHttpSetTimeouts(HttpSession, ResolveTimeoutMs, ConnectTimeoutMs, SendTimeoutMs, ReceiveTimeoutMs);
    HttpConnection = WinHttpConnect(HttpSession, ConnectorHost, port, 0);
    if (!HttpConnection) return 0;
    SessionPort = port;
    return 1;
}

int StartRequest(HWND targetWindow, int32_t kind, const wchar_t* deviceName, int32_t thirdPartyRelay)
{
    WorkerRequest* record = (WorkerRequest*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(WorkerRequest));
    if (!record) return 0;
    record->targetWindow = targetWindow;
    record->kind = kind;
    if (kind == Start) {
        // The record is zeroed, so the name stays terminated after its first DeviceNameMaxUnits units.
        for (int i = 0; deviceName && i < DeviceNameMaxUnits && deviceName[i]; ++i)
            record->deviceName[i] = deviceName[i];
        record->thirdPartyRelay = thirdPartyRelay ? 1 : 0;
    }
    ReadConnectorSecret(record->secret);
    HANDLE thread = CreateThread(nullptr, 0, RunRequest, record, 0, nullptr);
    if (!thread) {
        FreeWorkerRequest(record);
        return 0;
    }
    CloseHandle(thread);
    return 1;
}

DWORD WINAPI RunRequest(void* param)
{
    WorkerRequest* record = (WorkerRequest*)param;
    const int isStatus = record->kind == Status;
    HINTERNET request = WinHttpOpenRequest(HttpConnection, isStatus ? L"GET" : L"POST", RequestPaths[record->kind],
                                           nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    if (!request) {
        Publish(record);
        return 0;
    }
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    // The session's receive timeout does not bound the wait for the response headers everywhere (Wine
    // waits forever, Windows 90 s), and a connector that accepts and never answers would hold the
    // window's single request slot that long. Bound that wait by the same receive limit.
    DWORD receiveLimit = ReceiveTimeoutMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveLimit, sizeof receiveLimit);

    wchar_t headers[HeaderUnits] = {};
    FormatHeaders(record, headers);
    char body[StartBodyBytes] = {};
    memcpy(body, "{}", 2);
    BOOL sent;
    if (isStatus) {
        sent = WinHttpSendRequest(request, headers[0] ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                                  headers[0] ? (DWORD)-1 : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    } else {
        if (record->kind == Start) BuildStartBody(record, body);
        DWORD length = (DWORD)strlen(body);
        sent = WinHttpSendRequest(request, headers, (DWORD)-1, body, length, length, 0);
    }
    SecureZeroMemory(headers, sizeof headers);
    if (sent && WinHttpReceiveResponse(request, nullptr)) {
        DWORD code = 0;
        DWORD size = sizeof code;
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
            record->statusCode = code;
            if (isStatus && code == 200) ReadStatusBody(request, record);
        }
    }
    WinHttpCloseHandle(request);
    Publish(record);
    return 0;
}

void FreeWorkerRequest(WorkerRequest* record)
{
    if (!record) return;
    SecureZeroMemory(record->secret, sizeof record->secret);
    HeapFree(GetProcessHeap(), 0, record);
}
