#include "framework/CException.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

// The framework's texts, %1 standing for the file's name.
static CString WithFileName(const char* text, const CString& fileName)
{
    CString message = text;
    message.Replace("%1", fileName.IsEmpty() ? "an unnamed file" : fileName.GetString());
    return message;
}

CString CArchiveException::GetErrorMessage() const
{
    if (m_cause == endOfFile)
        return WithFileName("An attempt was made to access %1 past its end.", m_strFileName);
    return WithFileName("An unexpected error occurred while accessing %1.", m_strFileName);
}

CString CFileException::GetErrorMessage() const
{
    switch (m_cause) {
    case fileNotFound:
        return WithFileName("%1 was not found.", m_strFileName);
    case badPath:
        return WithFileName("%1 contains an invalid path.", m_strFileName);
    case accessDenied:
        return WithFileName("Access to %1 was denied.", m_strFileName);
    case sharingViolation:
        return WithFileName("A sharing violation occurred while accessing %1.", m_strFileName);
    case diskFull:
        return WithFileName("There is not enough space on the disk for %1.", m_strFileName);
    default:
        return WithFileName("An unexpected error occurred while accessing %1.", m_strFileName);
    }
}

int CFileException::OsErrorToException(LONG lOsError)
{
    switch (lOsError) {
#ifdef _WIN32
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return badPath;
    case ERROR_ACCESS_DENIED: return accessDenied;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return diskFull;
#else
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return badPath;
    case EACCES:
    case EPERM: return accessDenied;
    case ENOSPC:
    case EFBIG: return diskFull;
#endif
    default: return genericException;
    }
}

void AfxThrowArchiveException(int cause, const char* lpszArchiveName)
{
    throw CArchiveException(cause, lpszArchiveName);
}

void AfxThrowFileException(int cause, LONG lOsError, const char* lpszFileName)
{
    throw CFileException(cause, lOsError, lpszFileName);
}
