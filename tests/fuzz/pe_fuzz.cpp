// Any bytes as a program file: the PE reader and the listing writer must stay
// inside the buffer, and the listing must keep the lines the tracer relies on.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "disasm/ListingWriter.h"
#include "tests/disasm/ListingRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy: the fuzzer's own buffer may have slack after it.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size)
        memcpy(exact.get(), data, size);
    CListingOutput out;
    CListingStats stats = WriteListing(exact.get(), size, "fuzz.exe", out);
    // The tracer tells a PE's listing from a short note by its length.
    if (stats.isPe != (out.m_text.size() >= 500) || !BrokenListingRule(out.m_text).empty())
        abort();
    return 0;
}
