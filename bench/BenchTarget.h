// What the benchmarks that run under Wine share: a clock in milliseconds,
// Windows paths, and a real program turned into a target (rebased, for
// instance to 0x00400000) and disassembled without the batch.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

inline double Now()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        ::QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    ::QueryPerformanceCounter(&count);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline std::string WinPath(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return !path.empty() && path[0] == '\\' ? "Z:" + path : path;
}

inline std::vector<char> ReadAll(const std::string& path)
{
    std::vector<char> bytes;
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(::GetFileSize(file, NULL));
    DWORD got = 0;
    if (!bytes.empty())
        ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, NULL);
    ::CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

// Moves a program file's image to `base`, applying its base relocations, so
// that its listing is the one it would have been linked there: every address
// moved, every line as long as before.
// With asProgram the file is also marked a program rather than a DLL, so that
// it can be started (its code runs no further than its first steps).
inline bool RebaseTo(const std::string& path, DWORD base, bool asProgram = false)
{
    std::vector<char> file = ReadAll(path);
    auto at = [&](size_t offset, size_t size) { return offset + size <= file.size() ? &file[offset] : nullptr; };
    char* dos = at(0, sizeof(IMAGE_DOS_HEADER));
    if (!dos)
        return false;
    size_t ntOffset = reinterpret_cast<IMAGE_DOS_HEADER*>(dos)->e_lfanew;
    IMAGE_NT_HEADERS32* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(at(ntOffset, sizeof(IMAGE_NT_HEADERS32)));
    if (!nt || nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    DWORD delta = base - nt->OptionalHeader.ImageBase;
    IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    WORD nSections = nt->FileHeader.NumberOfSections;
    auto fileOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nSections; ++i)
            if (rva >= sections[i].VirtualAddress && rva < sections[i].VirtualAddress + sections[i].SizeOfRawData)
                return sections[i].PointerToRawData + (rva - sections[i].VirtualAddress);
        return static_cast<size_t>(-1);
    };
    IMAGE_DATA_DIRECTORY relocs = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    size_t block = fileOffset(relocs.VirtualAddress);
    size_t end = block + relocs.Size;
    while (block != static_cast<size_t>(-1) && block + 8 <= end && at(block, 8)) {
        IMAGE_BASE_RELOCATION* header = reinterpret_cast<IMAGE_BASE_RELOCATION*>(&file[block]);
        if (header->SizeOfBlock < 8)
            break;
        WORD* entries = reinterpret_cast<WORD*>(&file[block + 8]);
        for (DWORD i = 0; i < (header->SizeOfBlock - 8) / 2 && at(block + 8 + 2 * i, 2); ++i) {
            if ((entries[i] >> 12) != IMAGE_REL_BASED_HIGHLOW)
                continue;
            char* target = at(fileOffset(header->VirtualAddress + (entries[i] & 0xFFF)), 4);
            if (target)
                *reinterpret_cast<DWORD*>(target) += delta;
        }
        block += header->SizeOfBlock;
    }
    nt->OptionalHeader.ImageBase = base;
    if (asProgram)
        nt->FileHeader.Characteristics &= ~IMAGE_FILE_DLL;
    HANDLE out = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    bool ok = out != INVALID_HANDLE_VALUE && ::WriteFile(out, file.data(), static_cast<DWORD>(file.size()), &written, NULL);
    if (out != INVALID_HANDLE_VALUE)
        ::CloseHandle(out);
    return ok;
}

// The benchmarks' targets lie where the small programs they are compared with do.
inline bool RebaseTo400000(const std::string& path, bool asProgram = false)
{
    return RebaseTo(path, 0x00400000, asProgram);
}

// Runs the disassembler itself, without the batch, its output into a file.
inline double RunDisassemblerDirectly(const std::string& disassembler, const std::string& target, const std::string& output)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE out = ::CreateFileA(output.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + disassembler + "\" \"" + target + "\"";
    double begun = Now();
    if (!::CreateProcessA(disassembler.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        ::CloseHandle(out);
        return -1;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    double took = Now() - begun;
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    ::CloseHandle(out);
    return took;
}
