// Bounded building of the supervisor's paths and command lines (see install_paths.h). No Windows calls,
// so every boundary is tested in-process by tests/roles.
#include "install_paths.h"

static size_t TextLength(const wchar_t* text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

int JoinBounded(wchar_t* out, size_t capacity, const wchar_t* const* parts, int count)
{
    if (capacity == 0)
        return 0;
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        size_t length = TextLength(parts[i]);
        // Room for the part and the terminator, compared without overflow.
        if (length >= capacity - used) {
            out[0] = 0;
            return 0;
        }
        for (size_t k = 0; k < length; ++k)
            out[used + k] = parts[i][k];
        used += length;
    }
    out[used] = 0;
    return 1;
}

int CutToDirectory(wchar_t* path)
{
    size_t last = 0;
    int found = 0;
    for (size_t i = 0; path[i]; ++i) {
        if (path[i] == L'\\') {
            last = i;
            found = 1;
        }
    }
    if (!found)
        return 0;
    path[last] = 0;
    return 1;
}

int BuildRuntimePath(wchar_t* out, const wchar_t* directory)
{
    const wchar_t* parts[] = {directory, L"\\runtime\\node.exe"};
    return JoinBounded(out, InstallPathCapacity, parts, 2);
}

int BuildLogPath(wchar_t* out, const wchar_t* directory)
{
    const wchar_t* parts[] = {directory, L"\\connector.log"};
    return JoinBounded(out, InstallPathCapacity, parts, 2);
}

int BuildConnectorCommandLine(wchar_t* out, const wchar_t* runtimePath, const wchar_t* directory)
{
    const wchar_t* parts[] = {L"\"", runtimePath, L"\" \"", directory, L"\\app\\connector.js\""};
    return JoinBounded(out, ConnectorCommandLineCapacity, parts, 5);
}

int BuildSupervisorCommandLine(wchar_t* out, const wchar_t* executablePath)
{
    const wchar_t* parts[] = {L"\"", executablePath, L"\" --background"};
    return JoinBounded(out, SupervisorCommandLineCapacity, parts, 3);
}

int FormatPortText(wchar_t* out, uint16_t port)
{
    // Five digits at most for a 16-bit value, so the text always fits PortTextCapacity.
    wchar_t digits[PortTextCapacity];
    int n = 0;
    unsigned value = port;
    do {
        digits[n++] = (wchar_t)(L'0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = 0; i < n; ++i)
        out[i] = digits[n - 1 - i];
    out[n] = 0;
    return 1;
}
