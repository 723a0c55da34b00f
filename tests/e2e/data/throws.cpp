// An end-to-end sample in C++ (built with g++ -O1 -static): it throws and
// catches, so its image holds the exception tables that MinGW's linker puts
// inside the code section, and its landing pads are entered by the unwinder
// only. It writes what it caught to throws.out in its current directory.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

struct Tally {
    int& count;
    explicit Tally(int& c) : count(c) {}
    ~Tally() { ++count; } // run by the unwinder on the way out
};

struct Refused : std::runtime_error {
    int code;
    Refused(const std::string& what, int c) : std::runtime_error(what), code(c) {}
};

__attribute__((noinline)) int Check(int n, int& unwound)
{
    Tally tally(unwound);
    switch (n % 4) {
    case 1: throw Refused("refused " + std::to_string(n), n);
    case 2: throw std::out_of_range("out of range");
    case 3: throw n;
    default: return n * 3;
    }
}

__attribute__((noinline)) int Relay(int n, int& unwound)
{
    try {
        return Check(n, unwound);
    } catch (const std::out_of_range&) {
        throw; // caught again by the caller
    }
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 8;
    int sum = 0, refused = 0, other = 0, numbers = 0, unwound = 0;
    for (int i = 0; i < rounds; ++i) {
        try {
            sum += Relay(i, unwound);
        } catch (const Refused& e) {
            refused += e.code;
        } catch (const std::exception&) {
            ++other;
        } catch (int n) {
            numbers += n;
        }
    }
    FILE* out = std::fopen("throws.out", "w");
    if (!out)
        return 2;
    std::fprintf(out, "Korvane throws: sum %d, refused %d, other %d, numbers %d, unwound %d\n", sum, refused, other, numbers, unwound);
    return std::fclose(out) == 0 ? 0 : 2;
}
