// A target that keeps running until it is stopped, by argv[1]: "spin" calls two
// functions alternately for ever; "sleep" sleeps for ever without an event;
// "loop" waits in a message loop, so WM_QUIT ends it; "window" has its window
// and message loop on a second thread, the main thread waiting for it, and a
// third thread asleep; "parent" starts itself
// as "child" and, without waiting, calls functions of its own image a while
// and exits; the child calls the same functions, sleeps eight seconds and
// writes its results to child.txt; the parent writes parent.txt.
#include <stdio.h>
#include <string.h>
#include <windows.h>

__attribute__((noinline)) int ping(int x) { return x + 1; }
__attribute__((noinline)) int pong(int x) { return x * 2 % 1000003; }

static int Work(int rounds)
{
    int value = 1;
    for (int i = 0; i < rounds; ++i)
        value = pong(ping(value));
    return value;
}

static int Write(const char* name, int value)
{
    FILE* out = fopen(name, "w");
    if (out == NULL)
        return 2;
    fprintf(out, "%d\n", value);
    fclose(out);
    return 0;
}

static DWORD WINAPI WindowThread(LPVOID unused)
{
    (void)unused;
    CreateWindowExA(0, "STATIC", "waiter", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 6;
}

static DWORD WINAPI Asleep(LPVOID unused)
{
    (void)unused;
    Sleep(INFINITE);
    return 0;
}

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "spin";
    if (strcmp(mode, "spin") == 0) {
        for (volatile int value = 1;;)
            value = pong(ping(value));
    }
    if (strcmp(mode, "sleep") == 0)
        Sleep(INFINITE);
    if (strcmp(mode, "loop") == 0) {
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0)
            DispatchMessageA(&msg);
        return 5;
    }
    if (strcmp(mode, "window") == 0) {
        CloseHandle(CreateThread(NULL, 0, Asleep, NULL, 0, NULL));
        HANDLE window = CreateThread(NULL, 0, WindowThread, NULL, 0, NULL);
        DWORD code = 0;
        WaitForSingleObject(window, INFINITE);
        GetExitCodeThread(window, &code);
        return (int)code;
    }
    if (strcmp(mode, "child") == 0) {
        int value = Work(300);
        Sleep(8000);
        return Write("child.txt", value);
    }
    if (strcmp(mode, "parent") == 0) {
        char commandLine[MAX_PATH + 16];
        char self[MAX_PATH];
        GetModuleFileNameA(NULL, self, MAX_PATH);
        snprintf(commandLine, sizeof commandLine, "\"%s\" child", self);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        if (!CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
            return 3;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return Write("parent.txt", Work(300));
    }
    return 4;
}
