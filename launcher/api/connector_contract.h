// What the launcher relies on from the connector application: where its API listens, the WinHTTP limits
// of a request, the status document's format tag and keywords (with the values the parser turns them
// into), the relay values of the Start body and the limits that both sides share. No Windows header, so
// the status document parser that uses it also builds natively.
#pragma once
#include <stdint.h>

// The API port: 8093 unless TOVIX_MOBILE_CONNECTOR_PORT names a port in this range (1-5 ASCII digits). The
// window and the supervisor read the variable; the supervisor hands the connector the port it resolved.
enum { DefaultConnectorPort = 8093, MinConnectorPort = 1024, MaxConnectorPort = 65535 };
inline constexpr wchar_t PortVariableName[] = L"TOVIX_MOBILE_CONNECTOR_PORT";

// The connector's secret: every request carries "Authorization: Bearer <secret>", and the supervisor gives
// the connector the same text in this variable. 256 random bits as lowercase hexadecimal, which is safe in
// a header and in a URL fragment.
inline constexpr wchar_t SecretVariableName[] = L"TOVIX_MOBILE_CONNECTOR_TOKEN";
enum { ConnectorSecretChars = 64, ConnectorSecretUnits = ConnectorSecretChars + 1 };

// The API listens on the loopback interface only, plain HTTP.
inline constexpr wchar_t ConnectorHost[] = L"127.0.0.1";
// The session's agent string, sent with every request.
inline constexpr wchar_t ConnectorUserAgent[] = L"Tovix Mobile Connector";

// WinHTTP limits, in milliseconds. The receive limit bounds the wait for the response headers and each
// body read; together they bound how long one request can hold the window's single request slot.
enum {
    ResolveTimeoutMs = 500,
    ConnectTimeoutMs = 1000,
    SendTimeoutMs = 1000,
    ReceiveTimeoutMs = 20000,
};

// Header block of every POST; %u is the connector port. 63 or 64 code units for ports from 1024 up.
inline constexpr wchar_t PostHeaderFormat[] = L"Content-Type: application/json\r\nOrigin: http://127.0.0.1:%u\r\n";

// The longest device name the window sends (UTF-16 code units); the edit stops typing there too.
enum { DeviceNameMaxUnits = 100 };

// The QR symbols a status document may carry: 21, 25, ..., 177 modules a side.
enum { QrMinModules = 21, QrMaxModules = 177 };

// First line of the status document.
inline constexpr char StatusFormatTag[] = "tovix-connector-desktop/2";

// The keyword lines of the status document as the window uses them. The parser turns each line into one
// of these values once; nothing after it looks at the wire text. The keyword tables are indexed by value.
enum ConnectionState : int32_t {  // line 2; any other text rejects the document
    ConnectionIdle,
    ConnectionConnecting,
    ConnectionOnline,
    ConnectionOffline,
    ConnectionError,
    ConnectionStateCount
};
inline constexpr const char* ConnectionKeywords[ConnectionStateCount] = {"idle", "connecting", "online", "offline",
                                                                          "error"};

enum WorkbenchState : int32_t {  // line 4; any text but the two keywords means no usable workbench
    WorkbenchMissing,
    WorkbenchReady,
    WorkbenchChecking,
};
inline constexpr char WorkbenchReadyKeyword[] = "ready";
inline constexpr char WorkbenchCheckingKeyword[] = "checking";

enum PairingState : int32_t {  // line 8; any text but the two keywords means neither
    PairingNone,
    PairingPaired,
    PairingCode,  // a code and its QR symbol are on offer (lines 9-12 then hold them)
};
inline constexpr char PairingPairedKeyword[] = "paired";
inline constexpr char PairingCodeKeyword[] = "code";

// Line 15 and the relayProvider member of the Start body; any other text in line 15 rejects the document.
enum RelayProvider : int32_t { RelayDefault, RelayThirdParty, RelayProviderCount };
inline constexpr const char* RelayKeywords[RelayProviderCount] = {"quorbelapi", "thirdparty"};
