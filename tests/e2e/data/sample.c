// The sample target of the end-to-end tests: no C runtime, so that every
// point of its listing is its own and the counts of a run are known. It
// writes what it did to sample.out in its current directory (it has no
// console under the tracer): its arguments as received and a sum over a loop
// of N rounds (first argument, default 3) through a direct call, a call
// through a pointer and a jump table. The argument "crash" writes to address
// 0 and dies of it; "fault" reads address 0 and its own handler lets the read
// go on elsewhere, so the program ends normally only if the fault reached it.
#include <windows.h>

typedef int (*Step)(int);

__attribute__((noinline)) static int Twice(int n) { return n * 2; }
__attribute__((noinline)) static int Square(int n) { return n * n; }
static Step volatile steps[2] = {Twice, Square};

// Enough cases with work of their own for a jump table (a jump through a pointer).
__attribute__((noinline)) static int Kind(int n)
{
    switch (n % 6) {
    case 0: return Twice(n) + 7;
    case 1: return Square(n) - 11;
    case 2: return Twice(n + 13);
    case 3: return Square(n + 17);
    case 4: return Twice(n) * 19;
    default: return Square(n) * 23;
    }
}

static int faultHandled;
static const int fallback = 1;

// Points the faulting read (its address is in ECX) at a readable value.
static LONG CALLBACK OnFault(EXCEPTION_POINTERS* info)
{
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || info->ContextRecord->Ecx != 0)
        return EXCEPTION_CONTINUE_SEARCH;
    info->ContextRecord->Ecx = (DWORD)&fallback;
    return EXCEPTION_CONTINUE_EXECUTION;
}

static void Fault(void)
{
    AddVectoredExceptionHandler(1, OnFault);
    int value;
    __asm__ volatile("movl (%1), %0" : "=a"(value) : "c"(0) : "memory");
    faultHandled = value;
}

static void Put(HANDLE out, const char* text)
{
    DWORD written;
    WriteFile(out, text, lstrlenA(text), &written, 0);
}

// The arguments after the program's name, quoted or not.
static const char* Arguments(const char* line)
{
    if (*line == '"') {
        for (++line; *line && *line != '"'; ++line) {}
        if (*line)
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}

void __stdcall Start(void)
{
    const char* args = Arguments(GetCommandLineA());
    if (lstrcmpA(args, "crash") == 0)
        *(volatile int*)0 = 1;
    if (lstrcmpA(args, "fault") == 0)
        Fault();
    int rounds = 0;
    for (const char* p = args; *p >= '0' && *p <= '9'; ++p)
        rounds = rounds * 10 + (*p - '0');
    if (*args < '0' || *args > '9')
        rounds = 3;

    int sum = 0;
    for (int i = 0; i < rounds; ++i)
        sum += Twice(i) + steps[i & 1](i) + Kind(i);

    char number[16];
    int at = sizeof number - 1;
    number[at] = 0;
    do
        number[--at] = (char)('0' + sum % 10);
    while ((sum /= 10) > 0 && at > 0);

    HANDLE out = CreateFileA("sample.out", GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (out == INVALID_HANDLE_VALUE)
        ExitProcess(2);
    Put(out, "Korvane sample arguments: ");
    Put(out, args);
    Put(out, "\r\nKorvane sample sum: ");
    Put(out, number + at);
    Put(out, "\r\n");
    if (faultHandled)
        Put(out, "Korvane sample fault: handled\r\n");
    CloseHandle(out);
    ExitProcess(0);
}
