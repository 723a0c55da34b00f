// The framework's errors: thrown by value by CFile and CArchive, never caught
// by the program's own code. The framework's window procedure catches them
// and shows the message in a box with the stop icon (AfxWndProc).
#pragma once

#include "framework/CString.h"
#include "framework/PlatformTypes.h"

class CException {
public:
    virtual ~CException() = default;
    // The text the framework's box shows.
    virtual CString GetErrorMessage() const = 0;
};

// An archive read past the end of its file.
class CArchiveException : public CException {
public:
    enum { none, endOfFile = 3 };
    explicit CArchiveException(int cause = none, const char* lpszArchiveName = NULL)
        : m_cause(cause), m_strFileName(lpszArchiveName) {}
    CString GetErrorMessage() const override;

    int m_cause;
    CString m_strFileName; // empty: "an unnamed file"
};

// A file operation that the system refused.
class CFileException : public CException {
public:
    enum { none, genericException, fileNotFound, badPath, accessDenied = 5, sharingViolation = 11, diskFull = 13 };
    CFileException(int cause = none, LONG lOsError = -1, const char* lpszFileName = NULL)
        : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName) {}
    CString GetErrorMessage() const override;
    // The cause of a system error code (GetLastError, or errno in the native build).
    static int OsErrorToException(LONG lOsError);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AfxThrowArchiveException(int cause, const char* lpszArchiveName = NULL);
[[noreturn]] void AfxThrowFileException(int cause, LONG lOsError = -1, const char* lpszFileName = NULL);
