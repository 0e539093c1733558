// The stop role (see stop_command.h). It never creates an object: it only opens those that exist, so a
// stop with nothing running leaves nothing behind.
#include <windows.h>
#include "stop_command.h"
#include "named_objects.h"

enum { StopMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE, MaxStopWaitHandles = 2 };

// Opens a role mutex; a missing one is no failure. Appends what opened to the wait list.
static void OpenRoleMutex(const wchar_t* name, HANDLE* waitList, DWORD* count, int* failed)
{
    HANDLE mutex = OpenMutexW(StopMutexAccess, FALSE, name);
    if (mutex)
        waitList[(*count)++] = mutex;
    else if (GetLastError() != ERROR_FILE_NOT_FOUND)
        *failed = 1;
}

int RunStopCommand()
{
    int failed = 0;
    HANDLE waitList[MaxStopWaitHandles];
    DWORD count = 0;
    OpenRoleMutex(WindowMutexName, waitList, &count, &failed);
    OpenRoleMutex(BackgroundMutexName, waitList, &count, &failed);

    // Only now the event: every role creates it before its mutex and holds it while it lives, so whoever
    // holds a mutex found above is reached through it. Looked up first, a window starting at that moment
    // could create the event just after the look and its mutex just before, and the stop would then wait
    // its full 15 s for a window that was never told to end.
    HANDLE stopEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName);
    if (stopEvent)
        SetEvent(stopEvent);

    if (count > 0) {
        // Wait-all: the mutexes are acquired together, never one while still waiting for the other.
        DWORD result = WaitForMultipleObjects(count, waitList, TRUE, StopWaitMs);
        if (result == WAIT_OBJECT_0 || (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)) {
            for (DWORD i = 0; i < count; ++i)
                ReleaseMutex(waitList[i]);
        } else {
            failed = 1;
        }
        for (DWORD i = 0; i < count; ++i)
            CloseHandle(waitList[i]);
    }
    if (stopEvent)
        CloseHandle(stopEvent);
    return failed ? 1 : 0;
}
