// Supervision of the connector application (see supervisor.h). The job object holds the connector and
// everything it starts; its only handle is ours, so the connector cannot outlive this process.
#include "supervisor.h"
#include "install_paths.h"
#include "named_objects.h"
#include "api/connector_contract.h"
#include "api/connector_secret.h"


int GetExecutablePath(wchar_t* path)
{
    DWORD length = GetModuleFileNameW(nullptr, path, ExecutablePathCapacity);
    if (length == 0 || length >= ExecutablePathCapacity) {
        path[0] = 0;
        return 0;
    }
    return 1;
}

// The texts built before anything is opened, kept together so that RunSupervisor stays short.
struct ConnectorLaunch {
    wchar_t directory[ExecutablePathCapacity];
    wchar_t runtimePath[InstallPathCapacity];
    wchar_t logPath[InstallPathCapacity];
    wchar_t commandLine[ConnectorCommandLineCapacity];
    wchar_t secret[ConnectorSecretUnits];
};

static int BuildConnectorLaunch(ConnectorLaunch* launch)
{
    if (!GetExecutablePath(launch->directory) || !CutToDirectory(launch->directory))
        return 0;
    return BuildRuntimePath(launch->runtimePath, launch->directory) &&
           BuildLogPath(launch->logPath, launch->directory) &&
           BuildConnectorCommandLine(launch->commandLine, launch->runtimePath, launch->directory);
}

static int LimitJobToKillOnClose(HANDLE job)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != 0;
}

// Room for a process attribute list with one entry; the system tells the size it needs.
struct JobAttributeList {
    alignas(8) unsigned char storage[128];
    LPPROC_THREAD_ATTRIBUTE_LIST list;
};

// Prepares the attribute that creates a process inside *job. Zero where the system lacks it (before
// Windows 10), and the caller then creates the process plainly.
static int InitJobAttributeList(JobAttributeList* attributes, HANDLE* job)
{
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0 || size > sizeof attributes->storage)
        return 0;
    attributes->list = (LPPROC_THREAD_ATTRIBUTE_LIST)attributes->storage;
    if (!InitializeProcThreadAttributeList(attributes->list, 1, 0, &size))
        return 0;
    if (!UpdateProcThreadAttribute(attributes->list, 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, job, sizeof *job, nullptr,
                                   nullptr)) {
        DeleteProcThreadAttributeList(attributes->list);
        return 0;
    }
    return 1;
}

// Everything from opening the log to the end of the connector: returns the exit code. Closes the job
// and everything it opened on every path, in reverse order of acquisition; the caller keeps only
// BackgroundMutex.
static int SuperviseConnector(HANDLE stopEvent, HANDLE job, uint16_t port, ConnectorLaunch* launch)
{
    SECURITY_ATTRIBUTES inherit = {};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    // The log is recreated empty by every supervisor that gets this far; readers may open it meanwhile.
    HANDLE log = CreateFileW(launch->logPath, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE) {
        if (input != INVALID_HANDLE_VALUE)
            CloseHandle(input);
        if (log != INVALID_HANDLE_VALUE)
            CloseHandle(log);
        CloseHandle(job);
        return 1;
    }

    // The connector always receives the port this supervisor resolved, also when ours was missing, and
    // the secret that this supervisor published.
    wchar_t portText[PortTextCapacity];
    FormatPortText(portText, port);
    SetEnvironmentVariableW(PortVariableName, portText);
    SetEnvironmentVariableW(SecretVariableName, launch->secret);

    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = log;
    startup.StartupInfo.hStdError = log;
    DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
    // Where the system can, the connector is created inside the job. Between a plain creation and the
    // assignment below, a supervisor killed at that moment would leave the connector suspended outside
    // the job for good, holding connector.log open so that no later supervisor could start one.
    JobAttributeList attributes;
    if (InitJobAttributeList(&attributes, &job)) {
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = attributes.list;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION child = {};
    // Suspended, so that it runs only once it is inside the job.
    BOOL created = CreateProcessW(launch->runtimePath, launch->commandLine, nullptr, nullptr, TRUE, flags, nullptr,
                                  launch->directory, &startup.StartupInfo, &child);
    if (startup.lpAttributeList)
        DeleteProcThreadAttributeList(startup.lpAttributeList);
    if (!created) {
        CloseHandle(input);
        CloseHandle(log);
        CloseHandle(job);
        return 1;
    }
    // Assigning a process to the job it was created in succeeds, so this is the same on every system.
    if (!AssignProcessToJobObject(job, child.hProcess) || ResumeThread(child.hThread) == (DWORD)-1) {
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, INFINITE);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        CloseHandle(input);
        CloseHandle(log);
        CloseHandle(job);
        return 1;
    }
    // The connector holds its own inherited copies.
    CloseHandle(input);
    CloseHandle(log);

    HANDLE waitList[2] = {stopEvent, child.hProcess};
    DWORD result = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
    // Closing the job ends the connector (when the stop ended the wait) and everything it started.
    CloseHandle(job);
    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1) ? 0 : 1;
}

int RunSupervisor(HANDLE stopEvent, uint16_t port)
{
    HANDLE backgroundMutex = CreateMutexW(nullptr, TRUE, BackgroundMutexName);
    if (!backgroundMutex)
        return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another supervisor owns it; not ours to release.
        CloseHandle(backgroundMutex);
        return 0;
    }

    int code = 1;
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
        code = 0;  // a stop is in progress: decline without touching anything
    } else if (job && LimitJobToKillOnClose(job)) {
        ConnectorLaunch launch;
        HANDLE secret = nullptr;
        if (BuildConnectorLaunch(&launch) && (secret = PublishNewConnectorSecret(launch.secret))) {
            code = SuperviseConnector(stopEvent, job, port, &launch);
            job = nullptr;  // SuperviseConnector has closed it
            // Withdrawn only now, once the connector that knew it has ended.
            CloseHandle(secret);
        }
    }
    if (job)
        CloseHandle(job);
    ReleaseMutex(backgroundMutex);
    CloseHandle(backgroundMutex);
    return code;
}

// Gives the new supervisor a handle of StopEvent before the window can end. The window may otherwise meet a
// stop, end and close its handle before the supervisor has opened the event by name; the stop command has
// closed its own by then, so the event would vanish with the stop unseen, and the supervisor would create
// a fresh one and run a connector that nothing stops. With the lent handle the event lives as long as the
// supervisor, which then sees the stop. The handle is never used and goes when the supervisor ends.
static void LendStopEvent(HANDLE supervisor)
{
    HANDLE stopEvent = OpenEventW(SYNCHRONIZE, FALSE, StopEventName);
    if (!stopEvent)
        return;
    HANDLE lent = nullptr;
    DuplicateHandle(GetCurrentProcess(), stopEvent, supervisor, &lent, 0, FALSE, DUPLICATE_SAME_ACCESS);
    CloseHandle(stopEvent);
}

int EnsureBackgroundRunningFor(const wchar_t* executablePath)
{
    HANDLE existing = OpenMutexW(SYNCHRONIZE, FALSE, BackgroundMutexName);
    if (existing) {
        CloseHandle(existing);
        return 1;
    }
    wchar_t ownPath[ExecutablePathCapacity];
    if (!executablePath) {
        if (!GetExecutablePath(ownPath))
            return 0;
        executablePath = ownPath;
    }
    wchar_t commandLine[SupervisorCommandLineCapacity];
    if (!BuildSupervisorCommandLine(commandLine, executablePath))
        return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    // The supervisor exists to outlive the window, but a child starts in its parent's job: were the window
    // started inside a kill-on-close job (as some launchers, terminals and task runners do), closing that job
    // would end the supervisor and the connector with the window. So it leaves the job where the job allows
    // that; a job that does not refuses the flag with ERROR_ACCESS_DENIED, and the supervisor then starts
    // inside it as it would without the flag. Outside any job the flag changes nothing.
    BOOL created = CreateProcessW(executablePath, commandLine, nullptr, nullptr, FALSE,
                                  CREATE_NO_WINDOW | CREATE_BREAKAWAY_FROM_JOB, nullptr, nullptr, &startup, &child);
    if (!created && GetLastError() == ERROR_ACCESS_DENIED)
        created = CreateProcessW(executablePath, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                 nullptr, &startup, &child);
    if (!created)
        return 0;
    LendStopEvent(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return 1;
}

int EnsureBackgroundRunning()
{
    return EnsureBackgroundRunningFor(nullptr);
}
