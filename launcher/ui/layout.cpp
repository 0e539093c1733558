// The main window's control table and layout arithmetic (see layout.h). Used by main_window.cpp to create
// the controls and place the window, and by the tests, which check the real window against these rows.
#include "layout.h"

// Every text-only control gets SS_NOPREFIX so that '&' in connector texts is shown as it is.
const ControlRow ControlTable[ControlCount] = {
    {L"STATIC", L"连接这台电脑", SS_NOPREFIX, 0, 74, 19, 390, 34, TitleFontIndex, 0},
    {L"STATIC", L"在手机上继续使用这台电脑的 Tovix", SS_NOPREFIX, 0, 75, 54, 386, 21, SmallFontIndex, 0},
    {L"STATIC", L"●  正在启动", SS_NOPREFIX | SS_CENTER, 0, 500, 36, 128, 24, BodyFontIndex, 0},
    {L"STATIC", L"手机扫码连接", SS_NOPREFIX | SS_CENTER, 0, 36, 106, 262, 23, HeadingFontIndex, 0},
    {QrViewClassName, L"手机连接这台电脑的二维码", 0, 0, 61, 188, 212, 212, NoFont, ControlInitiallyHidden},
    {L"STATIC", L"正在启动连接器…", SS_NOPREFIX | SS_CENTER, 0, 38, 266, 258, 65, BodyFontIndex, 0},
    {L"STATIC", L"", SS_NOPREFIX | SS_CENTER, 0, 30, 404, 274, 20, SmallFontIndex, 0},
    {L"BUTTON", L"生成新二维码", WS_TABSTOP, NewQrButtonId, 61, 426, 212, 26, BodyFontIndex, ControlInitiallyHidden},
    {L"STATIC", L"本机连接", SS_NOPREFIX, 0, 342, 107, 268, 23, HeadingFontIndex, 0},
    {L"STATIC", L"电脑名称", SS_NOPREFIX, 0, 342, 140, 268, 19, SmallFontIndex, 0},
    {L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, DeviceNameEditId, 342, 160, 268, 26, BodyFontIndex,
     ControlInitiallyDisabled},
    {L"STATIC", L"连接服务", SS_NOPREFIX, 0, 342, 201, 268, 19, SmallFontIndex, 0},
    {L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, RelayComboId, 342, 221, 268, 100, BodyFontIndex,
     ControlInitiallyDisabled},
    {L"STATIC", L"等待检测 Tovix 工作台…", SS_NOPREFIX, 0, 342, 257, 268, 45, BodyFontIndex, 0},
    {L"BUTTON", L"开始连接", WS_TABSTOP | BS_DEFPUSHBUTTON, StartButtonId, 342, 310, 268, 28, BodyFontIndex,
     ControlInitiallyDisabled},
    {L"BUTTON", L"停止远程连接", WS_TABSTOP, StopButtonId, 342, 310, 268, 28, BodyFontIndex, ControlInitiallyHidden},
    {L"BUTTON", L"重新检测", WS_TABSTOP, RetryButtonId, 342, 344, 268, 27, BodyFontIndex, ControlInitiallyHidden},
    {L"STATIC", L"", SS_NOPREFIX, 0, 342, 377, 268, 51, SmallFontIndex, 0},
    {L"STATIC", L"", SS_NOPREFIX, 0, 342, 431, 268, 20, SmallFontIndex, ControlInitiallyHidden},
    {L"BUTTON", L"下载更新", WS_TABSTOP, DownloadButtonId, 342, 455, 268, 28, BodyFontIndex, ControlInitiallyHidden},
    {L"STATIC", L"", SS_NOPREFIX, 0, 342, 491, 268, 20, SmallFontIndex, 0},
    {L"STATIC", L"使用手机时，请让电脑保持开机联网。", SS_NOPREFIX | SS_CENTER, 0, 24, 529, 604, 19,
     SmallFontIndex, 0},
};

const FontRow FontTable[FontCount] = {
    {26, 600},  // TitleFont
    {16, 600},  // HeadingFont
    {14, 400},  // BodyFont
    {13, 400},  // SmallFont
};

const wchar_t* const RelayComboItems[2] = {L"QuorbelAPI（默认）", L"三方中继"};

int ScaleAt(int n, int dpi)
{
    return MulDiv(n, dpi, 96);
}

int FontHeightAt(int font, int dpi)
{
    return -ScaleAt(FontTable[font].size, dpi);
}

POINT PlaceInWorkArea(RECT workArea, int width, int height)
{
    int spareX = (workArea.right - workArea.left) - width;
    int spareY = (workArea.bottom - workArea.top) - height;
    POINT at;
    at.x = workArea.left + (spareX > 0 ? spareX : 0) / 2;
    at.y = workArea.top + (spareY > 0 ? spareY : 0) / 2;
    return at;
}
