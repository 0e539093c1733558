// BuildStartBody: the JSON body of the Start request, {"deviceName":"...","relayProvider":"..."}. Called
// by the request worker. The name is the only outgoing text: it is converted to UTF-8 without strictness
// (a lone surrogate becomes U+FFFD) and its control characters are dropped rather than escaped, so that
// the body needs no escape but \" and \\.
#include "api/request_worker.h"

#include <string.h>

#include "api/connector_contract.h"

namespace {

// 100 UTF-16 code units need at most 300 bytes of UTF-8, plus the terminating zero.
enum { DeviceNameUtf8Bytes = 404 };
// Room kept free behind the name for the closing of the object to start in.
enum { NameStopsAt = StartBodyBytes - 4 };

const char BodyOpening[] = "{\"deviceName\":\"";
const char RelayMember[] = "\",\"relayProvider\":\"";
const char BodyClosing[] = "\"}";

// Appends text to the zero-terminated out of capacity bytes, cut (and terminated) to what fits.
void AppendCut(char* out, size_t capacity, const char* text)
{
    size_t used = strlen(out);
    size_t room = capacity - used - 1;
    size_t length = strlen(text);
    if (length > room) length = room;
    memcpy(out + used, text, length);
    out[used + length] = '\0';
}

}  // namespace

void BuildStartBody(const WorkerRequest* record, char* out)
{
    char name[DeviceNameUtf8Bytes] = {};
    WideCharToMultiByte(CP_UTF8, 0, record->deviceName, -1, name, sizeof name - 1, nullptr, nullptr);

    memset(out, 0, StartBodyBytes);
    memcpy(out, BodyOpening, sizeof BodyOpening - 1);
    size_t length = sizeof BodyOpening - 1;
    for (const unsigned char* p = (const unsigned char*)name; *p && length < NameStopsAt; ++p) {
        if (*p < 0x20) continue;  // controls, tab, CR and LF: dropped, never escaped
        if (*p == '"' || *p == '\\') out[length++] = '\\';
        out[length++] = (char)*p;
    }
    AppendCut(out, StartBodyBytes, RelayMember);
    AppendCut(out, StartBodyBytes, RelayKeywords[record->thirdPartyRelay ? RelayThirdParty : RelayDefault]);
    AppendCut(out, StartBodyBytes, BodyClosing);
}
