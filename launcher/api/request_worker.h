// The connector request worker: the process-wide WinHTTP session to the connector on 127.0.0.1, and one
// short-lived thread per request that performs it and hands the finished record back to the UI thread
// through ResultMailbox and WM_CONNECTOR_RESULT. Only the window controller starts requests.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>
#include "api/connector_contract.h"

enum RequestKind : int32_t {
    Status = 0,        // GET  /api/connector/desktop
    Start = 1,         // POST /api/connector/start
    Stop = 2,          // POST /api/connector/stop
    Detect = 3,        // POST /api/connector/desktop/detect
    PairingReset = 4,  // POST /api/connector/pairing/reset
};

enum { RequestKindCount = 5 };
enum { StartBodyBytes = 840 };

// Posted to the target window with both parameters 0 after a record has been published.
#define WM_CONNECTOR_RESULT (WM_APP + 1)

// One heap record per request, zero-filled. Owned by the UI thread until the worker starts, by the worker
// until it publishes, by the UI thread again once taken out of ResultMailbox (which frees it).
struct WorkerRequest {
    HWND targetWindow;
    int32_t kind;
    wchar_t deviceName[DeviceNameMaxUnits + 1];
    int32_t thirdPartyRelay;
    wchar_t secret[ConnectorSecretUnits];  // the published connector secret when the request started, or empty
    uint32_t statusCode;  // 0 when no response was obtained or the status body was refused
    char body[36001];     // Status with 200 only: the body followed by a zero byte
};

// The single hand-over slot between a worker and the UI thread (sequentially consistent exchanges).
extern std::atomic<WorkerRequest*> ResultMailbox;

// Paths indexed by RequestKind.
extern const wchar_t* const RequestPaths[RequestKindCount];

// Opens HttpSession and HttpConnection to 127.0.0.1:port. Non-zero on success. Called once.
int OpenConnectorSession(uint16_t port);

// Starts a worker thread for one request. deviceName and thirdPartyRelay are used for Start only. The
// request carries the connector secret published at this moment, so a restarted supervisor's new secret
// is used from the next request on; with none published it carries no Authorization header.
// Non-zero when the thread started; zero when no record or no thread could be had (nothing outstanding).
int StartRequest(HWND targetWindow, int32_t kind, const wchar_t* deviceName, int32_t thirdPartyRelay);

// The worker thread's entry; the parameter is the WorkerRequest.
DWORD WINAPI RunRequest(void* record);

// The JSON body of Start into out (StartBodyBytes, zero-filled by the caller):
// {"deviceName":"...","relayProvider":"quorbelapi"|"thirdparty"}
void BuildStartBody(const WorkerRequest* record, char* out);

// Frees a record taken out of ResultMailbox.
void FreeWorkerRequest(WorkerRequest* record);
