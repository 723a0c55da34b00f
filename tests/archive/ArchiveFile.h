// Bytes read as a hit archive through a real file, as the window reads one,
// shared by the archive tests and the archive's fuzz target (so without GoogleTest).
#pragma once

#include <fstream>
#include <string>

#include "archive/HitArchive.h"

// What `load` returns on the bytes written to path, -1 when the file ended
// first (the framework's end-of-file error), -2 for any other failure.
template <typename Load> int LoadArchive(const std::string& path, const std::string& bytes, Load load)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead))
        return -2;
    CArchive ar(&file, CArchive::load);
    try {
        return load(ar);
    } catch (const CArchiveException& e) {
        return e.m_cause == CArchiveException::endOfFile ? -1 : -2;
    }
}
