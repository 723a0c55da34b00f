// A file opened by name and read and written through its handle. Open tells
// its failure by its result; Read, Write, Flush and Close throw CFileException.
// The native build (tests, tools) has the same class over a file descriptor,
// without share modes.
#pragma once

#include "framework/CException.h"
#include "framework/CString.h"
#include "framework/PlatformTypes.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        shareExclusive = 0x0010, // no other open of the file succeeds while this one lasts
        modeCreate = 0x1000,     // created anew, an existing file truncated
    };

    CFile() = default;
    // An open file is closed; errors are ignored.
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // FALSE when the file could not be opened; the cause in *pError when given.
    BOOL Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError = NULL);
    // Fewer bytes than asked for only at the end of the file.
    UINT Read(void* lpBuf, UINT nCount);
    // Every byte or CFileException (a short write is a full disk).
    void Write(const void* lpBuf, UINT nCount);
    // What was written goes to the disk.
    void Flush();
    void Close();
    // Closes without reporting errors.
    void Abort();
    // The name that its errors give.
    void SetFilePath(const char* lpszNewName) { m_strFileName = lpszNewName; }

    HANDLE m_hFile = INVALID_HANDLE_VALUE;

private:
    [[noreturn]] void ThrowLastError() const;
    CString m_strFileName;
};
