// Rendering of the tests' status documents (see status_doc.h).
#include "status_doc.h"

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
