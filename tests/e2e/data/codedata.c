// An end-to-end sample whose code section holds data, as some compilers
// place it: strings and a table of case labels among the functions (in
// .text$data, which the linker puts inside .text). Besides, a switch with a
// jump table, calls through function pointers, and the C runtime linked in.
// It writes its result to codedata.out in its current directory. "N parent"
// also starts a copy of itself as "N child PID" without waiting for it: the
// child waits for its parent's end and a while more, so that it outlives the
// parent's run, then adds its own result, named "child", to the file.
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#define IN_CODE __attribute__((section(".text$data")))

static const char kFormat[] IN_CODE = "Korvane code data: %s %d %d %d\n";
static const char kAlpha[] IN_CODE = "alpha", kBeta[] IN_CODE = "beta", kGamma[] IN_CODE = "gamma", kDelta[] IN_CODE = "delta";
// Pointers in the code to strings in the code: a relocated pointer does not make code.
static const char* const kNames[] IN_CODE = {kAlpha, kBeta, kGamma, kDelta};
static const char kOut[] IN_CODE = "codedata.out";

// A table of labels read by an indexed jump: the case table sits in the code.
__attribute__((noinline)) static int Step(int n)
{
    static const void* const labels[] IN_CODE = {&&twice, &&square, &&negate, &&plus};
    int v = n;
    goto *labels[n & 3];
twice:
    return v * 2;
square:
    return v * v;
negate:
    return -v;
plus:
    return v + 41;
}

// Enough cases for the compiler's own jump table (in .rdata).
__attribute__((noinline)) static int Kind(int n)
{
    switch (n % 7) {
    case 0: return n + 3;
    case 1: return n * 5;
    case 2: return n - 7;
    case 3: return n ^ 9;
    case 4: return n << 2;
    case 5: return n / 3;
    default: return 11;
    }
}

static int Add(int a, int b) { return a + b; }
static int Mul(int a, int b) { return a * b; }
static int (*const volatile kOps[2])(int, int) = {Add, Mul};

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 9;
    const char* role = argc > 2 ? argv[2] : "";
    if (strcmp(role, "parent") == 0) {
        char self[MAX_PATH], pid[16];
        GetModuleFileNameA(NULL, self, MAX_PATH);
        snprintf(pid, sizeof pid, "%lu", GetCurrentProcessId());
        _spawnl(_P_NOWAIT, self, "codedata", argv[1], "child", pid, NULL);
    } else if (strcmp(role, "child") == 0 && argc > 3) {
        HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, strtoul(argv[3], NULL, 10));
        if (parent != NULL)
            WaitForSingleObject(parent, INFINITE);
        Sleep(3000);
    }
    int steps = 0, kinds = 0, ops = 1;
    for (int i = 0; i < rounds; ++i) {
        steps += Step(i);
        kinds += Kind(i);
        ops = kOps[i & 1](ops, i + 1) % 100003;
    }
    int child = strcmp(role, "child") == 0;
    FILE* out = fopen(kOut, child ? "a" : "w");
    if (!out)
        return 2;
    fprintf(out, kFormat, child ? "child" : kNames[rounds & 3], steps, kinds, ops);
    return fclose(out) == 0 ? 0 : 2;
}
