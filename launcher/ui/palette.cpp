// Palette choice and the static-text colour rule. RunWindow builds the palette once from
// ChoosePaletteColours; the main window procedure asks ChooseStaticTextStyle on every WM_CTLCOLORSTATIC.
#include "palette.h"
#include "layout.h"

PaletteColours ChoosePaletteColours(int highContrast, COLORREF windowText, COLORREF window)
{
    PaletteColours c;
    c.text = windowText;
    if (highContrast) {
        // Every shade becomes the user's own text colour on the user's own window colour.
        c.mutedText = c.panelBorder = c.status = c.errorText = windowText;
        c.panelFill = c.windowFill = window;
    } else {
        c.mutedText = NormalMutedTextColor;
        c.panelBorder = NormalPanelBorderColor;
        c.status = NormalMutedTextColor;
        c.errorText = NormalErrorTextColor;
        c.panelFill = NormalPanelFill;
        c.windowFill = NormalWindowFill;
    }
    return c;
}

COLORREF ResolveStatusColour(int colour, const Palette* colours)
{
    switch (colour) {
    case OnlineStatusColour: return OnlineColor;
    case ConnectingStatusColour: return ConnectingColor;
    case ErrorStatusColour: return colours->ErrorTextColor;
    }
    return colours->MutedTextColor;
}

int QueryHighContrast()
{
    HIGHCONTRASTW hc = {};
    hc.cbSize = sizeof hc;
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0))
        return 0;
    return (hc.dwFlags & HCF_HIGHCONTRASTON) ? 1 : 0;
}

StaticTextStyle ChooseStaticTextStyle(int kind, int top, int dpi, const Palette* colours)
{
    StaticTextStyle s;
    s.onPanel = top >= ScaleAt(PanelTop, dpi) && top < ScaleAt(PanelBottom, dpi);
    switch (kind) {
    case StatusPillText: s.colour = colours->StatusColor; break;
    case MessageText: s.colour = colours->ErrorTextColor; break;
    case PlaceholderText:
    case ProjectsText: s.colour = colours->MutedTextColor; break;
    default: s.colour = s.onPanel ? colours->TextColor : colours->MutedTextColor; break;
    }
    // The title sits above the panels but is the one outside text drawn in the ordinary colour.
    if (!s.onPanel && top < ScaleAt(TitleBandBottom, dpi))
        s.colour = colours->TextColor;
    return s;
}
