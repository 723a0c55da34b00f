// A target that looks for handles it was given to another program's threads
// and processes: it tries every small handle value, as a hostile program
// could, and writes what it finds to the file named by argv[1], then "done".
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv)
{
    FILE* out = fopen(argc > 1 ? argv[1] : "handles.txt", "w");
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
