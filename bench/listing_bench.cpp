// Conversion and re-index of a large listing against a bare scan for its line
// ends over the same bytes, side by side in one run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "listing/ListingRecord.h"

namespace {

// A listing of about `target` bytes shaped like the disassembler's: mostly code
// lines of 40-90 characters, about 15% calls and 15% jumps (some through
// pointers), string-data lines after some instructions, and header lines.
std::string MakeListing(size_t target)
{
    std::mt19937 engine(1234);
    auto rng = [&engine]() { return static_cast<unsigned>(engine()); };
    const char* plain[] = {"push ebp", "mov ebp, esp", "mov eax, dword ptr [ebp+08]", "xor eax, eax",
                           "add esp, 0000000C", "lea ecx, dword ptr [ebp-1C]", "pop edi", "test eax, eax",
                           "cmp dword ptr [esi+04], 00000000", "mov dword ptr [ebp-04], FFFFFFFF"};
    const char* jumps[] = {"jne", "je", "jmp", "jle", "jb", "jnz"};
    std::string text = "Disassembly of bench.exe\r\n";
    text.reserve(target + 256);
    unsigned addr = 0x401000;
    char line[160];
    while (text.size() < target) {
        unsigned roll = rng() % 100;
        unsigned size = 1 + rng() % 6;
        int n;
        if (roll < 15) {
            if (rng() % 3 == 0)
                n = std::snprintf(line, sizeof line, ":%08X FF15%08X            call dword ptr [%08X]", addr,
                                  rng(), 0x402000 + (rng() % 4096) * 4);
            else
                n = std::snprintf(line, sizeof line, ":%08X E8%08X              call %08X", addr, rng(),
                                  0x401000 + rng() % 0x100000);
        } else if (roll < 30) {
            if (rng() % 10 == 0)
                n = std::snprintf(line, sizeof line, ":%08X FF24%02X%08X          jmp dword ptr [4*eax+%08X]",
                                  addr, rng() % 256, rng(), 0x402000 + rng() % 4096);
            else
                n = std::snprintf(line, sizeof line, ":%08X %02X%02X                    %s %08X", addr,
                                  0x70 + rng() % 16, rng() % 256, jumps[rng() % 6], 0x401000 + rng() % 0x100000);
        } else if (roll < 35) {
            n = std::snprintf(line, sizeof line, "                       StringRef: \"%.*s\"",
                              static_cast<int>(8 + rng() % 40), "Could not open the file for writing, try again later");
        } else if (roll < 37) {
            n = std::snprintf(line, sizeof line, "* Referenced by a (U)nconditional or (C)onditional Jump at Address:");
        } else {
            n = std::snprintf(line, sizeof line, ":%08X %08X                %s", addr, rng(), plain[rng() % 10]);
        }
        text.append(line, static_cast<size_t>(n));
        text += "\r\n";
        addr += size;
    }
    return text;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

size_t CountLinesMemchr(const char* p, size_t size)
{
    size_t lines = 0;
    const char* end = p + size;
    for (const char* cr; p < end && (cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p))));
         p = cr + 1)
        if (cr + 1 < end && cr[1] == '\n')
            ++lines;
    return lines;
}

size_t CountLinesLoop(const char* p, size_t size)
{
    size_t lines = 0;
    for (size_t i = 0; i + 1 < size; ++i)
        lines += (p[i] == '\r') & (p[i + 1] == '\n');
    return lines;
}

} // namespace

int main()
{
    const std::string listing = MakeListing(50u << 20);
    const DWORD size = static_cast<DWORD>(listing.size());
    std::vector<char> work(listing.size());
    const int repetitions = 5;
    double bestMemchr = 1e9, bestLoop = 1e9, bestConvert = 1e9, bestIndex = 1e9;
    size_t lines = 0, lines2 = 0;
    int points = 0, indexed = 0;

    for (int rep = 0; rep < repetitions; ++rep) {
        auto t0 = std::chrono::steady_clock::now();
        lines = CountLinesMemchr(listing.data(), listing.size());
        auto t1 = std::chrono::steady_clock::now();
        lines2 = CountLinesLoop(listing.data(), listing.size());
        auto t2 = std::chrono::steady_clock::now();
        bestMemchr = std::min(bestMemchr, Seconds(t1 - t0));
        bestLoop = std::min(bestLoop, Seconds(t2 - t1));

        std::memcpy(work.data(), listing.data(), listing.size()); // a fresh listing each time
        CPointMaps maps;
        auto t3 = std::chrono::steady_clock::now();
        points = ConvertListing(work.data(), size, maps);
        auto t4 = std::chrono::steady_clock::now();
        maps.RemoveAllPoints();
        auto t5 = std::chrono::steady_clock::now();
        indexed = IndexListing(work.data(), size, maps);
        auto t6 = std::chrono::steady_clock::now();
        bestConvert = std::min(bestConvert, Seconds(t4 - t3));
        bestIndex = std::min(bestIndex, Seconds(t6 - t5));
    }
    if (lines != lines2 || points != indexed) {
        std::fprintf(stderr, "listing_bench: the passes disagree\n");
        return 1;
    }
    double both = bestConvert + bestIndex;
    std::printf("listing: %.1f MB, %zu lines, %d points (best of %d)\n", listing.size() / 1048576.0, lines, points,
                repetitions);
    std::printf("bare scan, memchr      %8.2f ms\n", bestMemchr * 1e3);
    std::printf("bare scan, byte loop   %8.2f ms\n", bestLoop * 1e3);
    std::printf("ConvertListing         %8.2f ms\n", bestConvert * 1e3);
    std::printf("IndexListing           %8.2f ms\n", bestIndex * 1e3);
    std::printf("convert+index / memchr scan:    %.2fx\n", both / bestMemchr);
    std::printf("convert+index / byte-loop scan: %.2fx\n", both / bestLoop);
    return 0;
}
