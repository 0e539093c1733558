// The invariants of an accepted StatusSnapshot, checked against the buffer that held the document. Used
// by the unit tests and the fuzzer. Returns null when all hold, else a description of the first one broken.
#pragma once
#include <stddef.h>
#include <string.h>

#include "api/status_document.h"

inline int IsQrSize(int32_t n)
{
    for (int32_t s = 21; s <= 177; s += 4)
        if (n == s) return 1;
    return 0;
}

inline int DigitsOnly(const char* s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (s[i] < '0' || s[i] > '9') return 0;
    return 1;
}

// buffer: the parsed buffer; size: the document's length (the terminating zero is at buffer[size]).
inline const char* BrokenSnapshotInvariant(const char* buffer, size_t size, const StatusSnapshot& s)
{
    const char* const fields[15] = {s.formatTag,      s.state,      s.deviceName,     s.workbenchState,
                                    s.workbenchDetail, s.message,   s.projectCount,   s.pairingState,
                                    s.codeExpiryText, s.codeText,   s.matrixSizeText, s.matrixText,
                                    s.newVersion,     s.updateLink, s.relayProvider};
    // The fields cover the buffer line by line: each starts right after the previous one's zero byte,
    // the first at the buffer's start, and the last ends at its final byte.
    const char* expected = buffer;
    for (const char* field : fields) {
        if (field != expected) return "a field does not start right after the previous line";
        if (field < buffer || field >= buffer + size) return "a field points outside the document";
        const char* zero = (const char*)memchr(field, 0, (size_t)(buffer + size - field));
        if (!zero) return "a field is not terminated inside the document";
        expected = zero + 1;
    }
    if (expected != buffer + size) return "the fields do not end at the document's end";

    if (strcmp(s.formatTag, "tovix-connector-desktop/2") != 0) return "format tag";
    if (strcmp(s.relayProvider, "quorbelapi") != 0 && strcmp(s.relayProvider, "thirdparty") != 0) return "relay";
    const char* const states[] = {"idle", "connecting", "online", "offline", "error"};
    int knownState = 0;
    for (const char* state : states) knownState |= strcmp(s.state, state) == 0;
    if (!knownState) return "state";
    // The values the window uses say the same as the wire text.
    if (s.connection < 0 || s.connection > 4 || strcmp(s.state, states[s.connection]) != 0) return "connection value";
    if (s.relay != (strcmp(s.relayProvider, "thirdparty") == 0 ? 1 : 0)) return "relay value";
    const int workbench = strcmp(s.workbenchState, "ready") == 0 ? 1 : strcmp(s.workbenchState, "checking") == 0 ? 2 : 0;
    if (s.workbench != workbench) return "workbench value";
    const int pairing = strcmp(s.pairingState, "code") == 0 ? 2 : strcmp(s.pairingState, "paired") == 0 ? 1 : 0;
    if (s.pairing != pairing) return "pairing value";

    const int code = strcmp(s.pairingState, "code") == 0;
    if (!code) {
        if (s.matrixSize != 0 || s.codeExpiry != 0) return "matrixSize or codeExpiry set without a code";
        return nullptr;
    }
    if (!IsQrSize(s.matrixSize)) return "matrixSize is not one of the 40 QR sizes";
    if (strcmp(s.state, "online") != 0) return "a code while not online";
    size_t modules = strlen(s.matrixText);
    if (modules != (size_t)s.matrixSize * (size_t)s.matrixSize) return "matrix is not N x N";
    for (size_t i = 0; i < modules; ++i)
        if (s.matrixText[i] != '0' && s.matrixText[i] != '1') return "matrix holds a byte other than 0 and 1";
    if (strlen(s.codeText) != 6 || !DigitsOnly(s.codeText, 6)) return "code is not six digits";
    if (s.codeExpiry <= 0) return "expiry not positive";
    return nullptr;
}
