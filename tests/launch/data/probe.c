// A tiny target for the listing tests: code that refers to string data.
#include <stdio.h>

int main(int argc, char** argv)
{
    (void)argv;
    puts("Hello from the probe");
    puts(argc > 1 ? "Korvane greets many" : "Korvane greets one");
    return 0;
}
