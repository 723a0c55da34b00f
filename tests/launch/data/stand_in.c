// Stands in for the disassembler: its "listing" is the batch that ran it, which it holds open while it runs;
// for a target named sleeper.exe it never ends.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv)
{
    FILE* batch = fopen("temp.bat", "rb");
    if (argc > 1 && strcmp(argv[1], "sleeper.exe") == 0)
        Sleep(120000);
    _setmode(_fileno(stdout), _O_BINARY); // the CR LF as written
    for (int c; batch != NULL && (c = fgetc(batch)) != EOF;)
        putchar(c);
    return batch == NULL;
}
