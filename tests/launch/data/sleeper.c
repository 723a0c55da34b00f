/* Stands in for a disassembler that never finishes. */
#include <windows.h>

int main(void)
{
    Sleep(120000);
    return 0;
}
