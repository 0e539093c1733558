// What the launcher relies on from the connector application: where its API listens, the WinHTTP limits
// of a request, the status document's format tag and keywords, and the relay values of the Start body.
// No Windows header, so the status document parser that uses it also builds natively.
#pragma once
#include <stdint.h>

enum { DefaultConnectorPort = 8093 };

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

// First line of the status document.
inline constexpr char StatusFormatTag[] = "tovix-connector-desktop/2";
// The connection states of line 2.
inline constexpr char StateIdle[] = "idle";
inline constexpr char StateConnecting[] = "connecting";
inline constexpr char StateOnline[] = "online";
inline constexpr char StateOffline[] = "offline";
inline constexpr char StateError[] = "error";
// Line 8 value that offers a pairing code with its QR symbol.
inline constexpr char PairingStateCode[] = "code";
// Relay values, in line 15 of the status document and in the Start body.
inline constexpr char RelayDefault[] = "quorbelapi";
inline constexpr char RelayThirdParty[] = "thirdparty";
