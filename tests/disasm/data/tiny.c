// A program without the C runtime, so that its whole listing stays short and
// stable: imported calls, local calls and branches, ASCII and UTF-16 strings,
// a string with characters to escape and one too long for a listing line.
#include <windows.h>

static const char kLong[] =
    "This text is longer than a listing line may be, so that the listing has to cut it short "
    "and mark the cut: 0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 "
    "0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 the end.";

__attribute__((noinline)) static int Count(const char* s) { int n = 0; while (*s++) ++n; return n; }

void __stdcall Start(void)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written;
    const char* text = "Hello, listing!\n";
    WriteFile(out, text, Count(text), &written, 0);
    if (lstrlenW(L"Wide text") != 9)
        OutputDebugStringA("tab\there \"quoted\" back\\slash\x01");
    if (Count(kLong) > 10)
        OutputDebugStringA(kLong);
    ExitProcess(0);
}
