// e2e_probe.exe: the end-to-end test's eyes and hands inside Wine. It finds the running main window by its
// class "TovixMobileConnectorWindow" and prints what a person would see, or posts what a person would do,
// so that the Linux-side driver (e2e.sh) can follow the whole chain. Output is UTF-8, one line per item.
//   e2e_probe list               children in creation order: index, class, id, visible, enabled, screen
//                                rectangle (x y w h), combo selection (or -1), text with CR/LF shown as \r \n
//   e2e_probe click <id>         posts the button command <id> (BN_CLICKED) to the main window
//   e2e_probe syscommand <id>    posts WM_SYSCOMMAND <id> (decimal) to the main window
//   e2e_probe close              posts WM_CLOSE to the main window
//   e2e_probe dialog [ok|cancel] prints the caption and text of the window's message box, or answers it
//   e2e_probe shortcut <file>    prints what a shell link (.lnk) starts, as the shell reads it: lines
//                                "target=", "arguments=", "directory=", "icon=" (path,index); no window needed
// Exit code: 0 done, 2 no main window (or no message box, or an unreadable link), 1 bad arguments.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>

static HANDLE out = nullptr;

static void Write(const wchar_t* text)
{
    char utf8[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written = 0;
    if (n > 1) WriteFile(out, utf8, static_cast<DWORD>(n - 1), &written, nullptr);
}

// Escapes CR, LF, tab and backslash so that every control stays on one output line.
static void WriteEscaped(const wchar_t* text)
{
    wchar_t buffer[2048];
    size_t k = 0;
    for (const wchar_t* p = text; *p && k + 3 < 2048; ++p) {
        wchar_t c = *p;
        if (c == L'\r' || c == L'\n' || c == L'\t' || c == L'\\') {
            buffer[k++] = L'\\';
            buffer[k++] = c == L'\r' ? L'r' : c == L'\n' ? L'n' : c == L'\t' ? L't' : L'\\';
        } else {
            buffer[k++] = c;
        }
    }
    buffer[k] = 0;
    Write(buffer);
}

// Another process's control: WM_GETTEXT is marshalled across processes; the timeout keeps a busy window
// from hanging the probe.
static void ControlText(HWND control, wchar_t* text, int room)
{
    text[0] = 0;
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, room, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                             &copied)) {
        text[0] = 0;
    }
    text[room - 1] = 0;
}

struct ListState {
    HWND parent;
    int index;
};

static BOOL CALLBACK ListChild(HWND child, LPARAM param)
{
    ListState* state = reinterpret_cast<ListState*>(param);
    if (GetParent(child) != state->parent) return TRUE;   // only direct children (not the combo's edit/list)
    state->index += 1;
    wchar_t className[64];
    if (!GetClassNameW(child, className, 64)) className[0] = 0;
    RECT r = {};
    GetWindowRect(child, &r);
    long selection = -1;
    if (_wcsicmp(className, L"ComboBox") == 0) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(child, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result)) {
            selection = static_cast<long>(static_cast<LRESULT>(result));
        }
    }
    wchar_t text[1024];
    ControlText(child, text, 1024);
    wchar_t line[256];
    swprintf(line, 256, L"%d\t%ls\t%d\t%d\t%d\t%ld %ld %ld %ld\t%ld\t", state->index, className, GetDlgCtrlID(child),
             IsWindowVisible(child) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0, r.left, r.top, r.right - r.left,
             r.bottom - r.top, selection);
    Write(line);
    WriteEscaped(text);
    Write(L"\n");
    return TRUE;
}

struct DialogSearch {
    DWORD process;
    HWND found;
};

static BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    wchar_t className[16];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && GetClassNameW(window, className, 16) && wcscmp(className, L"#32770") == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static int Dialog(HWND main, const wchar_t* answer)
{
    DialogSearch search = {0, nullptr};
    GetWindowThreadProcessId(main, &search.process);
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return 2;
    if (answer) {
        WPARAM id = wcscmp(answer, L"ok") == 0 ? IDOK : IDCANCEL;
        PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        return 0;
    }
    wchar_t text[1024];
    ControlText(search.found, text, 1024);
    WriteEscaped(text);
    Write(L"\t");
    HWND body = GetDlgItem(search.found, 0xFFFF);
    text[0] = 0;
    if (body) ControlText(body, text, 1024);
    WriteEscaped(text);
    Write(L"\n");
    return 0;
}

// A value that holds no line break (paths keep their backslashes as they are).
static void WriteLine(const wchar_t* key, const wchar_t* value)
{
    Write(key);
    Write(L"=");
    Write(value);
    Write(L"\n");
}

static int Shortcut(const wchar_t* file)
{
    if (FAILED(CoInitialize(nullptr))) return 2;
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    int code = 2;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(file, STGM_READ))) {
        wchar_t text[1024];
        int icon = 0;
        text[0] = 0;
        link->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
        WriteLine(L"target", text);
        text[0] = 0;
        link->GetArguments(text, 1024);
        WriteLine(L"arguments", text);
        text[0] = 0;
        link->GetWorkingDirectory(text, 1024);
        WriteLine(L"directory", text);
        text[0] = 0;
        link->GetIconLocation(text, 1000, &icon);
        wsprintfW(text + lstrlenW(text), L",%d", icon);
        WriteLine(L"icon", text);
        code = 0;
    }
    if (persist) persist->Release();
    if (link) link->Release();
    CoUninitialize();
    return code;
}

int wmain(int argc, wchar_t** argv)
{
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (argc < 2) return 1;
    if (wcscmp(argv[1], L"shortcut") == 0) return argc == 3 ? Shortcut(argv[2]) : 1;
    HWND main = FindWindowW(L"TovixMobileConnectorWindow", nullptr);
    if (!main) return 2;
    const wchar_t* verb = argv[1];
    if (wcscmp(verb, L"list") == 0) {
        ListState state = {main, 0};
        EnumChildWindows(main, ListChild, reinterpret_cast<LPARAM>(&state));
        return 0;
    }
    if (wcscmp(verb, L"click") == 0 && argc == 3) {
        int id = _wtoi(argv[2]);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(main, id)));
        return 0;
    }
    if (wcscmp(verb, L"syscommand") == 0 && argc == 3) {
        PostMessageW(main, WM_SYSCOMMAND, static_cast<WPARAM>(_wtoi(argv[2])), 0);
        return 0;
    }
    if (wcscmp(verb, L"close") == 0) {
        PostMessageW(main, WM_CLOSE, 0, 0);
        return 0;
    }
    if (wcscmp(verb, L"dialog") == 0) return Dialog(main, argc == 3 ? argv[2] : nullptr);
    return 1;
}
