// The three roles of launcher.exe and the single-instance rule of the window role. Called by the process
// entry (main.cpp); the window body is RunWindow (ui/main_window.cpp), the supervisor RunSupervisor.
#include "roles.h"
#include "named_objects.h"
#include "api/connector_contract.h"
#include "stop_command.h"
#include "supervisor.h"
#include "ui/layout.h"
#include "ui/main_window.h"

static const wchar_t StartupErrorText[] = L"无法打开连接器窗口，请重新打开后重试。";
static const wchar_t StartupErrorCaption[] = L"Tovix 随行连接器";

static int TextEquals(const wchar_t* a, const wchar_t* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

const wchar_t* CommandTail(const wchar_t* commandLine)
{
    if (!commandLine)
        return L"";
    const wchar_t* at = commandLine;
    int quoted = 0;
    // The program path ends at the first blank or control character outside double quotes.
    while (*at > L' ' || (*at && quoted)) {
        if (*at == L'"')
            quoted = !quoted;
        ++at;
    }
    while (*at >= 1 && *at <= L' ')
        ++at;
    return at;
}

ProcessRole SelectRole(const wchar_t* tail)
{
    if (TextEquals(tail, L"--stop"))
        return StopRole;
    if (TextEquals(tail, L"--background"))
        return BackgroundRole;
    return UiRole;
}

uint16_t PortFromVariable(const wchar_t* value, uint32_t count)
{
    if (count < 1 || count > PortValueCapacity - 1)
        return DefaultConnectorPort;
    uint32_t digits = 0;
    uint32_t number = 0;
    while (digits < count && value[digits] >= L'0' && value[digits] <= L'9') {
        number = number * 10 + (uint32_t)(value[digits] - L'0');
        ++digits;
    }
    if (digits != count || number < MinConnectorPort || number > MaxConnectorPort)
        return DefaultConnectorPort;
    return (uint16_t)number;
}

uint16_t ResolveConnectorPort()
{
    wchar_t value[PortValueCapacity] = {};
    DWORD count = GetEnvironmentVariableW(PortVariableName, value, PortValueCapacity);
    return PortFromVariable(value, count);
}

void ActivateExistingWindow()
{
    HWND window = FindWindowW(MainWindowClassName, nullptr);
    if (!window)
        return;
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

void ShowStartupError()
{
    MessageBoxW(nullptr, StartupErrorText, StartupErrorCaption, MB_ICONERROR);
}

int RunWindowRole(HINSTANCE instance, HANDLE stopEvent, uint16_t port, int show)
{
    int code = 1;
    HANDLE windowMutex = CreateMutexW(nullptr, TRUE, WindowMutexName);
    if (windowMutex) {
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            // Another window process owns it; this one only brings that window forward.
            ActivateExistingWindow();
            CloseHandle(windowMutex);
            return 0;
        }
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0)
            code = 1;
        else
            code = RunWindow(instance, stopEvent, port, show, EnsureBackgroundRunning);
        ReleaseMutex(windowMutex);
        CloseHandle(windowMutex);
    }
    if (code == 0)
        return 0;
    // Shown only after the mutex is gone, so that a stop command waiting for it is not held up.
    ShowStartupError();
    return code;
}

int LauncherMain(HINSTANCE instance, const wchar_t* tail, int show)
{
    ProcessRole role = SelectRole(tail);
    if (role == StopRole)
        return RunStopCommand();

    // Before either role's mutex: a stop that finds the mutex then finds the event too.
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, StopEventName);
    if (!stopEvent)
        return 1;
    uint16_t port = ResolveConnectorPort();
    int code;
    if (role == BackgroundRole)
        code = RunSupervisor(stopEvent, port);
    else
        code = RunWindowRole(instance, stopEvent, port, show);
    CloseHandle(stopEvent);
    return code;
}
