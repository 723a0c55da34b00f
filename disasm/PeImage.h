// A 32-bit PE image read from a byte buffer. Every header, section, directory
// and import access is bounds-checked against the buffer: a truncated or
// corrupt file yields fewer facts, never a read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct CPeSection {
    std::string name;      // printable, at most 8 characters
    uint32_t rva = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;  // bytes of raw data that really lie inside the file
    uint32_t flags = 0;
    bool executable = false;
    // The part of the section that holds initialized bytes in memory:
    // [rva, rva + codeSize), all of it backed by the file.
    uint32_t loadedSize = 0;
};

struct CPeDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

class CPeImage {
public:
    enum { kDirExport = 0, kDirImport = 1, kDirResource = 2, kDirException = 3, kDirSecurity = 4,
           kDirReloc = 5, kDirDebug = 6, kDirArchitecture = 7, kDirGlobalPtr = 8, kDirTls = 9,
           kDirLoadConfig = 10, kDirBoundImport = 11, kDirIat = 12, kDirDelayImport = 13,
           kDirClr = 14, kDirCount = 16 };

    // Reads the headers and tables. Returns false, with m_strProblem set, when the
    // buffer is not a 32-bit x86 PE image at all. A PE whose tables are damaged
    // still parses (true), with the damage noted in m_notes.
    bool Parse(const uint8_t* data, size_t size);

    // Pointer to n bytes at an RVA, or null unless all n lie in the file.
    const uint8_t* At(uint32_t rva, size_t n) const;
    // Pointer to the bytes at an RVA and how many follow it in the same piece of the file.
    const uint8_t* Span(uint32_t rva, size_t& avail) const;
    // The section holding an RVA in its loaded part, or null.
    const CPeSection* SectionOf(uint32_t rva) const;
    bool IsExecutable(uint32_t rva) const;
    bool InImage(uint32_t va) const { return va >= m_imageBase && va - m_imageBase < m_sizeOfImage; }
    bool IsRelocated(uint32_t rva) const; // a HIGHLOW fix-up starts at rva
    const std::string* ImportAt(uint32_t slotVa) const;

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    std::string m_strProblem;          // why this is not a 32-bit PE
    std::vector<std::string> m_notes;  // damage found in a PE that still parsed
    uint16_t m_machine = 0;
    uint16_t m_characteristics = 0;
    uint32_t m_imageBase = 0;
    uint32_t m_entryRva = 0;
    uint32_t m_sizeOfImage = 0;
    uint32_t m_sizeOfHeaders = 0;
    std::vector<CPeSection> m_sections;
    CPeDirectory m_dirs[kDirCount];
    std::vector<uint32_t> m_relocs;    // RVAs of HIGHLOW fix-ups, sorted
    bool m_hasRelocTable = false;

    struct CImportModule {
        std::string name;
        uint32_t count = 0;
        bool delayed = false;
    };
    std::vector<CImportModule> m_importModules;
    std::unordered_map<uint32_t, std::string> m_importSlots; // slot VA -> "MODULE.Name"
    std::unordered_map<uint32_t, std::string> m_exports;     // RVA -> exported name

    // Data the loader or the tools use that may sit inside a code section:
    // [rva, rva + size) with a short label. Unsorted; the listing sorts them.
    struct CDataRange {
        uint32_t rva;
        uint32_t size;
        const char* label;
    };
    std::vector<CDataRange> m_dataRanges;

    // Start points of code that the image itself names.
    std::vector<uint32_t> m_tlsCallbacks; // RVAs
    // Functions that the DWARF call-frame data (.eh_frame, which MinGW images
    // carry) describes: exact ranges, and where each one's exception table is.
    struct CFunction {
        uint32_t rva;
        uint32_t size;
        uint32_t lsda; // RVA of its exception table, 0 when none
    };
    std::vector<CFunction> m_functions; // sorted by rva
    std::vector<uint32_t> m_landingPads; // RVAs of the code that the exception tables name, sorted
    bool m_hasUnwindData = false;

private:
    void ReadImports();
    void ReadDelayImports();
    void ReadRelocs();
    void ReadExports();
    void ReadDirectoryRanges();
    void ReadTlsCallbacks();
    void ReadUnwindData(); // UnwindData.cpp
    uint32_t ReadLsda(uint32_t rva, uint32_t function); // bytes of the exception table at rva, 0 when unreadable
    std::string CString(uint32_t rva, size_t maxLen) const; // printable text of a zero-ended string
    void AddData(uint32_t rva, uint32_t size, const char* label);
};

// "KERNEL32" from "kernel32.dll": upper case, extension dropped, printable only.
std::string ModuleBaseName(const std::string& dll);
