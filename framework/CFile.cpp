#include "framework/CFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef _WIN32

static LONG LastError()
{
    return static_cast<LONG>(::GetLastError());
}

BOOL CFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    DWORD access = (nOpenFlags & modeWrite) ? GENERIC_WRITE : GENERIC_READ;
    DWORD share = (nOpenFlags & shareExclusive) ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    DWORD creation = (nOpenFlags & modeCreate) ? CREATE_ALWAYS : OPEN_EXISTING;
    m_hFile = ::CreateFileA(lpszFileName, access, share, NULL, creation, FILE_ATTRIBUTE_NORMAL, NULL);
    if (m_hFile == INVALID_HANDLE_VALUE) {
        if (pError != NULL)
            *pError = CFileException(CFileException::OsErrorToException(LastError()), LastError(), lpszFileName);
        return FALSE;
    }
    m_strFileName = lpszFileName;
    return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    DWORD got = 0;
    if (!::ReadFile(m_hFile, lpBuf, nCount, &got, NULL))
        ThrowLastError();
    return got;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    DWORD written = 0;
    if (!::WriteFile(m_hFile, lpBuf, nCount, &written, NULL))
        ThrowLastError();
    if (written != nCount)
        AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
}

void CFile::Flush()
{
    if (!::FlushFileBuffers(m_hFile))
        ThrowLastError();
}

void CFile::Close()
{
    HANDLE file = m_hFile;
    m_hFile = INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE && !::CloseHandle(file))
        ThrowLastError();
}

void CFile::Abort()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

#else // the native build: the descriptor is kept in the handle

static LONG LastError()
{
    return errno;
}

static int Descriptor(HANDLE hFile)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(hFile));
}

BOOL CFile::Open(const char* lpszFileName, UINT nOpenFlags, CFileException* pError)
{
    int flags = (nOpenFlags & modeWrite) ? O_WRONLY : O_RDONLY;
    if (nOpenFlags & modeCreate)
        flags |= O_CREAT | O_TRUNC;
    int fd = ::open(lpszFileName, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (pError != NULL)
            *pError = CFileException(CFileException::OsErrorToException(LastError()), LastError(), lpszFileName);
        return FALSE;
    }
    m_hFile = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
    m_strFileName = lpszFileName;
    return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    UINT total = 0;
    while (total < nCount) {
        ssize_t got = ::read(Descriptor(m_hFile), static_cast<char*>(lpBuf) + total, nCount - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ThrowLastError();
        if (got == 0)
            break;
        total += static_cast<UINT>(got);
    }
    return total;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    UINT total = 0;
    while (total < nCount) {
        ssize_t written = ::write(Descriptor(m_hFile), static_cast<const char*>(lpBuf) + total, nCount - total);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            ThrowLastError();
        total += static_cast<UINT>(written);
    }
}

void CFile::Flush()
{
    if (::fsync(Descriptor(m_hFile)) != 0)
        ThrowLastError();
}

void CFile::Close()
{
    int fd = Descriptor(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    if (fd >= 0 && ::close(fd) != 0)
        ThrowLastError();
}

void CFile::Abort()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        ::close(Descriptor(m_hFile));
    m_hFile = INVALID_HANDLE_VALUE;
}

#endif

CFile::~CFile()
{
    Abort();
}

void CFile::ThrowLastError() const
{
    LONG error = LastError();
    AfxThrowFileException(CFileException::OsErrorToException(error), error, m_strFileName);
}
