// Buffered, typed reading or writing of a CFile: 32-bit little-endian
// integers and strings with a length prefix (one byte; 0xFF and 16 bits; or
// 0xFF, 0xFFFF and 32 bits; reading also takes the mark 0xFF 0xFFFE of a wide
// string, whose characters are converted to the ANSI code page). Reading past
// the end of the file throws CArchiveException(endOfFile), also in the middle
// of a value; the file's own errors throw CFileException.
#pragma once

#include <vector>

#include "framework/CFile.h"
#include "framework/CString.h"

class CArchive {
public:
    enum Mode { store = 0, load = 1 };

    CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096);
    // An archive that was not closed drops what it still holds.
    ~CArchive() = default;
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    BOOL IsLoading() const { return m_nMode == load; }

    CArchive& operator<<(LONG l);
    CArchive& operator>>(LONG& l);

    void Write(const void* lpBuf, UINT nMax);
    // Fewer bytes than asked for only at the end of the file.
    UINT Read(void* lpBuf, UINT nMax);
    // Every byte asked for, or CArchiveException(endOfFile).
    void ReadExactly(void* lpBuf, UINT nMax);

    // Storing: the buffer goes to the file.
    void Flush();
    // Storing: flushes. The archive is then done; the file stays open.
    void Close();

private:
    CFile* m_pFile;
    UINT m_nMode;
    std::vector<BYTE> m_buffer;
    size_t m_nCur = 0; // next byte to read, or count of bytes to write
    size_t m_nEnd = 0; // loading: end of the bytes read into the buffer
};

CArchive& operator<<(CArchive& ar, const CString& str);
CArchive& operator>>(CArchive& ar, CString& str);
