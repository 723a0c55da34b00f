/* A small target to attach: calls, jumps and string references for its listing. */
#include <stdio.h>

static int CountA(const char* text)
{
    int n = 0;
    for (; *text != '\0'; ++text)
        if (*text == 'a')
            ++n;
    return n;
}

int main(int argc, char** argv)
{
    int n = CountA("Korvane attach target") + CountA(argc > 1 ? argv[1] : "banana");
    if (n > 3)
        puts("many letters a");
    else
        puts("few letters a");
    return n;
}
