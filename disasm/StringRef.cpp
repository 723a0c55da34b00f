#include "disasm/StringRef.h"

namespace {

const size_t kMaxLine = 254;
const size_t kQuoteColumn = 34;
const size_t kScanLimit = 4096; // longer texts are shown cut anyway

bool IsPlain(unsigned c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r'; }

// Length in characters of a string of units of the given width, or 0. Text is
// mostly plain characters; a few others (escaped in the listing) may occur.
size_t TextLength(const uint8_t* p, size_t avail, size_t width)
{
    size_t n = 0, plain = 0;
    for (; (n + 1) * width <= avail && n < kScanLimit; ++n) {
        unsigned c = p[n * width];
        if (width == 2 && p[n * width + 1] != 0)
            return 0;
        if (c == 0)
            break;
        if (IsPlain(c))
            ++plain;
    }
    // Unterminated within the file: not a string. Over the scan limit: long text.
    if ((n + 1) * width > avail)
        return 0;
    if (n < kMinStringChars || plain * 4 < n * 3 || !IsPlain(p[0]))
        return 0;
    return n;
}

} // namespace

bool AppendStringRefLine(const uint8_t* p, size_t avail, std::string& line, size_t* bytes)
{
    size_t width = 2;
    size_t n = avail >= 2 && p[1] == 0 ? TextLength(p, avail, 2) : 0;
    if (n == 0) {
        width = 1;
        n = TextLength(p, avail, 1);
    }
    if (n == 0)
        return false;
    if (bytes)
        *bytes = (n + 1) * width;
    line.assign(kQuoteColumn, ' ');
    if (width == 2)
        line.replace(16, 6, "UTF-16");
    line.replace(23, 10, "String Ref");
    line += '"';
    static const char hex[] = "0123456789ABCDEF";
    const size_t room = kMaxLine - 4; // closing quote and a possible "..."
    size_t i = 0;
    for (; i < n; ++i) {
        unsigned c = p[i * width];
        char esc[5];
        size_t k = 0;
        switch (c) {
        case '\n': esc[k++] = '\\'; esc[k++] = 'n'; break;
        case '\t': esc[k++] = '\\'; esc[k++] = 't'; break;
        case '\r': esc[k++] = '\\'; esc[k++] = 'r'; break;
        case '"': esc[k++] = '\\'; esc[k++] = '"'; break;
        case '\\': esc[k++] = '\\'; esc[k++] = '\\'; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                esc[k++] = '\\'; esc[k++] = 'x'; esc[k++] = hex[c >> 4]; esc[k++] = hex[c & 15];
            } else {
                esc[k++] = char(c);
            }
        }
        if (line.size() + k > room)
            break;
        line.append(esc, k);
    }
    line += '"';
    if (i < n)
        line += "...";
    line += "\r\n";
    return true;
}

bool LooksLikeProse(const uint8_t* p, size_t bytes)
{
    size_t width = bytes >= 4 && p[1] == 0 ? 2 : 1;
    size_t n = bytes / width - 1; // without the terminator
    if (n < 8 || n >= kScanLimit)
        return false;
    size_t prose = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned c = p[i * width];
        if (!IsPlain(c) || (width == 2 && p[i * width + 1] != 0))
            return false;
        if ((c >= 'a' && c <= 'z') || c == ' ')
            ++prose;
    }
    return prose * 2 >= n;
}
