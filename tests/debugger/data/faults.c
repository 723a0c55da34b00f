// Exceptions of the program's own, by argv[2]: "handled" (an access violation
// its vectored handler steps over), "unhandled", "unnamed" (a code of its own,
// handled), "int3" (a breakpoint instruction of its own, handled) and "trap"
// (a single step it causes with the trap flag, handled). Results go to argv[1].
#include <stdio.h>
#include <string.h>
#include <windows.h>

static volatile int handled;
static volatile DWORD faultAt;

static LONG CALLBACK Handler(PEXCEPTION_POINTERS info)
{
    DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code == EXCEPTION_ACCESS_VIOLATION) {
        faultAt = info->ContextRecord->Eip;
        info->ContextRecord->Eip += 6; // mov eax, [00000000] is A1 with a dword, then a nop
        ++handled;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (code == 0xE0000001 || code == EXCEPTION_BREAKPOINT || code == EXCEPTION_SINGLE_STEP) {
        info->ContextRecord->EFlags &= ~0x100u;
        // Past the breakpoint instruction, wherever the system left Eip.
        if (code == EXCEPTION_BREAKPOINT && *(unsigned char*)info->ContextRecord->Eip == 0xCC)
            info->ContextRecord->Eip += 1;
        ++handled;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

int main(int argc, char** argv)
{
    const char* mode = argc > 2 ? argv[2] : "handled";
    if (strcmp(mode, "unhandled") != 0)
        AddVectoredExceptionHandler(1, Handler);
    if (strcmp(mode, "handled") == 0 || strcmp(mode, "unhandled") == 0)
        __asm__ volatile("movl 0, %%eax\n\tnop" ::: "eax", "memory");
    else if (strcmp(mode, "unnamed") == 0)
        RaiseException(0xE0000001, 0, 0, NULL);
    else if (strcmp(mode, "int3") == 0)
        __asm__ volatile("int3");
    else if (strcmp(mode, "trap") == 0)
        __asm__ volatile("pushfl\n\torl $0x100, (%%esp)\n\tpopfl\n\tnop" ::: "memory", "cc");
    FILE* out = fopen(argc > 1 ? argv[1] : "faults.txt", "w");
    if (out == NULL)
        return 2;
    fprintf(out, "mode=%s handled=%d fault=%08lX\n", mode, handled, (unsigned long)faultAt);
    fclose(out);
    return 10 + handled;
}
