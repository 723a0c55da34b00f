/* A tiny target for the listing tests: code that refers to string data. */
#include <stdio.h>

static const char* Pick(int n)
{
    return n > 1 ? "Korvane greets many" : "Korvane greets one";
}

int main(int argc, char** argv)
{
    (void)argv;
    puts("Hello from the probe");
    puts(Pick(argc));
    return 0;
}
