// A target whose hits are known: alpha and beta are called alternately, gamma
// alone in a loop, helper once from a TLS callback before the entry point.
// Writes what it computed and where its functions are to the file named by
// argv[1]; argv[2] is the number of rounds (100 by default). Its start address
// (linked as korvane_entry) is a jump.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

__attribute__((noinline)) int alpha(int x) { return x * 3 + 1; }
__attribute__((noinline)) int beta(int x) { return x ^ 0x55; }
__attribute__((noinline)) int gamma_(int x) { return x + 7; }
__attribute__((noinline)) int helper(int x) { return x * 2; }

static volatile int tlsValue;

// The start address is a jump, so that the first instruction is a listed point.
__asm__(".globl _korvane_entry\n_korvane_entry:\n\tjmp _mainCRTStartup\n");

static void NTAPI TlsCallback(PVOID module, DWORD reason, PVOID reserved)
{
    (void)module;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        tlsValue = helper(21);
}
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK korvaneTlsCallback = TlsCallback;

int main(int argc, char** argv)
{
    int rounds = argc > 2 ? atoi(argv[2]) : 100;
    int sum = 0;
    for (int i = 0; i < rounds; ++i) {
        sum += alpha(i);
        sum += beta(i);
    }
    for (int i = 0; i < 50; ++i)
        sum += gamma_(i);
    FILE* out = fopen(argc > 1 ? argv[1] : "counts.txt", "w");
    if (out == NULL)
        return 2;
    fprintf(out, "alpha=%p beta=%p gamma=%p helper=%p\nsum=%d tls=%d\n", (void*)alpha, (void*)beta, (void*)gamma_,
            (void*)helper, sum, tlsValue);
    fclose(out);
    return sum & 0x7F;
}
