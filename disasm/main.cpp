// Korvane's companion disassembler. One argument, the program file; the
// listing goes to standard output with CR LF line ends, exit code 0. A file
// that cannot be read gets a message on stderr, no output and exit code 1.
// "--straight" before the file reads every code section straight through, as
// for an image without relocations or unwind data (for measurement).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "disasm/ListingWriter.h"

namespace {

// The whole file in memory; false with a message on stderr when it cannot be read.
bool ReadWholeFile(const char* path, std::vector<uint8_t>& data)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "cannot open [ %s ]: %s\n", path, strerror(errno));
        return false;
    }
    bool ok = true;
    try {
        if (fseek(f, 0, SEEK_END) == 0) {
            long size = ftell(f);
            if (size > 0)
                data.reserve(size_t(size));
            rewind(f);
        }
        uint8_t chunk[1 << 16];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
            data.insert(data.end(), chunk, chunk + got);
        if (ferror(f)) {
            fprintf(stderr, "cannot read [ %s ]: %s\n", path, strerror(errno));
            ok = false;
        }
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "cannot read [ %s ]: the file does not fit in memory\n", path);
        ok = false;
    }
    fclose(f);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    bool straight = argc == 3 && strcmp(argv[1], "--straight") == 0;
    if (argc != 2 && !straight) {
        fprintf(stderr, "usage: %s [--straight] <program file>\n", argc > 0 ? argv[0] : "Korvane.dll");
        return 2;
    }
    const char* path = argv[argc - 1];
    std::vector<uint8_t> data;
    if (!ReadWholeFile(path, data))
        return 1;

#ifdef _WIN32
    // The listing's CR LF are written as they are, not doubled by text mode.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    bool ok;
    {
        CListingOutput out(stdout);
        WriteListing(data.data(), data.size(), path, out, straight);
        ok = out.Flush();
    }
    if (fflush(stdout) != 0 || !ok) {
        fprintf(stderr, "cannot write the listing of [ %s ]\n", path);
        return 1;
    }
    return 0;
}
