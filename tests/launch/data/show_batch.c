/* Stands in for the disassembler: its "listing" is the batch that ran it. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

int main(void)
{
    FILE* batch = fopen("temp.bat", "rb");
    int c;
    if (batch == NULL)
        return 1;
    _setmode(_fileno(stdout), _O_BINARY); /* the CR LF as written */
    while ((c = fgetc(batch)) != EOF)
        putchar(c);
    fclose(batch);
    return 0;
}
