// A target by argv[1]. Until it is stopped: "spin" calls two functions
// alternately for ever; "sleep" sleeps for ever without an event; "loop" waits
// in a message loop, so WM_QUIT ends it; "window" has its window and message
// loop on a second thread, the main thread waiting for it, and a third thread
// asleep. "handles" looks for handles it was given to another program's
// threads and processes, trying every small handle value as a hostile program
// could, and writes what it finds to handles.txt, then "done".
#include <stdio.h>
#include <string.h>
#include <windows.h>

__attribute__((noinline)) int ping(int x) { return x + 1; }
__attribute__((noinline)) int pong(int x) { return x * 2 % 1000003; }

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

static int Handles(void)
{
    FILE* out = fopen("handles.txt", "w");
    if (out == NULL)
        return 1;
    DWORD self = GetCurrentProcessId();
    // Not in the toolchain's import library.
    DWORD(WINAPI * GetProcessIdOfThread)(HANDLE) =
        (DWORD(WINAPI*)(HANDLE))(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessIdOfThread");
    if (GetProcessIdOfThread == NULL)
        return 2;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
        HANDLE handle = (HANDLE)value;
        DWORD owner = GetProcessIdOfThread(handle);
        if (owner != 0 && owner != self)
            fprintf(out, "thread %lu of %lu\n", GetThreadId(handle), owner);
        DWORD process = GetProcessId(handle);
        if (process != 0 && process != self)
            fprintf(out, "process %lu\n", process);
    }
    fputs("done\n", out);
    fclose(out);
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
    if (strcmp(mode, "handles") == 0)
        return Handles();
    return 4;
}
