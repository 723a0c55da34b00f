// Any bytes as a program file: the PE reader and the listing writer must stay
// inside the buffer, and the listing must keep the lines the tracer relies on.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "disasm/ListingWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy: the fuzzer's own buffer may have slack after it.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    if (size)
        memcpy(exact.get(), data, size);
    CListingOutput out;
    CListingStats stats = WriteListing(exact.get(), size, "fuzz.exe", out);
    const std::string& text = out.m_text;
    if (!stats.isPe && text.size() >= 500)
        abort(); // the tracer must see a short file for a non-PE
    if (stats.isPe && text.size() < 500)
        abort(); // and a long one for a PE
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos || end - start > 254)
            abort();
        bool code = end - start >= 34 && text[start] == ':';
        if (!code && text.compare(start, 2, ":0") == 0)
            abort();
        if (text[start] == '\'')
            abort();
        start = end + 2;
    }
    return 0;
}
