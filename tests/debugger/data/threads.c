// Eight threads call shared functions thousands of times; each writes its sum.
#include <stdio.h>
#include <windows.h>

__attribute__((noinline)) int shared_add(int a, int b) { return a + b; }
__attribute__((noinline)) int shared_mix(int a) { return (a * 7) ^ (a >> 3); }

static int sums[8];

static DWORD WINAPI Work(LPVOID param)
{
    int index = (int)(INT_PTR)param, sum = 0;
    for (int i = 0; i < 200; ++i)
        sum = shared_add(sum, shared_mix(i + index));
    sums[index] = sum;
    return 0;
}

int main(int argc, char** argv)
{
    HANDLE threads[8];
    for (int i = 0; i < 8; ++i)
        threads[i] = CreateThread(NULL, 0, Work, (LPVOID)(INT_PTR)i, 0, NULL);
    WaitForMultipleObjects(8, threads, TRUE, INFINITE);
    FILE* out = fopen(argc > 1 ? argv[1] : "threads.txt", "w");
    if (out == NULL)
        return 2;
    for (int i = 0; i < 8; ++i)
        fprintf(out, "%d\n", sums[i]);
    fclose(out);
    return 3;
}
