// Rendering of the tests' status documents (see status_doc.h).
#include "status_doc.h"
#include "ui/clock.h"

std::string Render(const Doc& d)
{
    const std::string* lines[15] = {&d.tag,     &d.state,    &d.deviceName, &d.workbench, &d.detail,
                                     &d.message, &d.projects, &d.pairing,    &d.expiry,    &d.code,
                                     &d.size,    &d.matrix,   &d.newVersion, &d.link,      &d.relay};
    std::string text;
    for (const std::string* line : lines)
        text += *line + "\n";
    return text;
}

char PatternModule(int row, int column)
{
    return ((row * 7 + column * 3 + row * column) % 5 < 2) ? '1' : '0';
}

Doc CodeDoc(int n, int64_t expiresInMs, const std::string& matrix)
{
    Doc d;
    d.state = "online";
    d.pairing = "code";
    d.expiry = std::to_string(WallNowMs() + expiresInMs);
    d.code = "482913";
    d.size = std::to_string(n);
    d.matrix = matrix;
    for (int r = 0; matrix.empty() && r < n; ++r)
        for (int k = 0; k < n; ++k)
            d.matrix += PatternModule(r, k);
    return d;
}
