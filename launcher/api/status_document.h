// The desktop status document: the 15-line plain-text answer of GET /api/connector/desktop, and the
// all-or-nothing check that turns it into a StatusSnapshot. No Windows header, so the same file also
// builds natively for the sanitizer tests, the fuzzer and the benchmark.
#pragma once
#include <stdint.h>

// Largest body the window accepts, in bytes, not counting the terminating zero.
enum { StatusDocumentMaxBytes = 36000 };

// Texts borrow the buffer that held the document; valid until that buffer is freed. The keyword lines
// are also given as the values of connector_contract.h, which is all the window looks at.
struct StatusSnapshot {
    const char* formatTag;
    const char* state;
    const char* deviceName;
    const char* workbenchState;
    const char* workbenchDetail;
    const char* message;
    const char* projectCount;
    const char* pairingState;
    const char* codeExpiryText;
    const char* codeText;
    const char* matrixSizeText;
    const char* matrixText;
    const char* newVersion;
    const char* updateLink;
    const char* relayProvider;
    int32_t matrixSize;  // 0, or one of 21, 25, ..., 177 when pairingState is "code"
    int64_t codeExpiry;  // ms since 1970-01-01 UTC when pairingState is "code", else 0
    int32_t connection;  // ConnectionState of line 2
    int32_t workbench;   // WorkbenchState of line 4
    int32_t pairing;     // PairingState of line 8
    int32_t relay;       // RelayProvider of line 15
};

// body: modifiable, zero-terminated, at most StatusDocumentMaxBytes before the zero, no zero inside.
// Every line feed the split finds becomes a zero byte, accepted or not. Returns non-zero when accepted;
// on rejection *snapshot is meaningless.
int ParseStatusDocument(char* body, StatusSnapshot* snapshot);
