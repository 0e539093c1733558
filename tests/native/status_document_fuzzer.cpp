// libFuzzer target of ParseStatusDocument. Each input is what a worker could hand over: at most 36 000
// bytes without a zero byte, copied into a heap buffer of exactly that size plus the terminating zero, so
// that AddressSanitizer reports any read past the terminator. For every input the parse may change only the
// line feeds (into zero bytes); for every accepted input the snapshot's invariants must hold.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "api/status_document.h"
#include "snapshot_invariants.h"

namespace {

void Fail(const char* what)
{
    fprintf(stderr, "status document fuzzer: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > StatusDocumentMaxBytes || memchr(data, 0, size)) return 0;  // never reaches the parse
    char* buffer = (char*)malloc(size + 1);
    memcpy(buffer, data, size);
    buffer[size] = '\0';

    StatusSnapshot snapshot;
    int accepted = ParseStatusDocument(buffer, &snapshot);

    // Only line feeds became zero bytes: the first ones in order, at most fifteen of them.
    size_t feeds = 0;
    int keptAFeed = 0;
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] == (char)data[i]) {
            if (data[i] == '\n') keptAFeed = 1;
            continue;
        }
        if (data[i] != '\n' || buffer[i] != '\0') Fail("the parse wrote something other than a line end");
        if (keptAFeed) Fail("a line feed was skipped by the split");
        if (++feeds > 15) Fail("more than fifteen line feeds overwritten");
    }
    if (buffer[size] != '\0') Fail("the terminating zero byte changed");

    if (accepted) {
        if (feeds != 15 || keptAFeed) Fail("accepted without exactly fifteen lines");
        const char* broken = BrokenSnapshotInvariant(buffer, size, snapshot);
        if (broken) Fail(broken);
    }
    free(buffer);
    return 0;
}
