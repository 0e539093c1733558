// TEMPORARY stand-in for the window controller until controller.cpp lands: it keeps launcher.exe linking
// and keeps the one behaviour the process-role tests rely on (the window closes at the first timer tick
// after StopEvent is set). Delete this file when controller.cpp is committed.
#include "controller.h"
#include "main_window.h"

ControllerState Controller;

void StartController()
{
    if (WindowRole.startBackground)
        WindowRole.startBackground();
    SetTimer(WindowRole.mainWindow, RefreshTimerId, RefreshTimerPeriodMs, nullptr);
    ControllerTick();
}

void ControllerTick()
{
    if (WaitForSingleObject(WindowRole.stopEvent, 0) == WAIT_OBJECT_0)
        DestroyWindow(WindowRole.mainWindow);
}

void BeginAction(int32_t) {}
void RestartConnector() {}
void OnRelayChange() {}
void OnDeviceNameChange() {}
void OnStartCommand() {}
void OnStopCommand() {}
void OnRetryCommand() {}
void OnNewCodeCommand() {}

