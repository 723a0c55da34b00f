#include "framework/CArchive.h"

#include <algorithm>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize)
    : m_pFile(pFile), m_nMode(nMode), m_buffer(static_cast<size_t>(nBufSize > 0 ? nBufSize : 4096))
{
}

void CArchive::Write(const void* lpBuf, UINT nMax)
{
    const BYTE* from = static_cast<const BYTE*>(lpBuf);
    while (nMax > 0) {
        if (m_nCur == m_buffer.size())
            Flush();
        size_t part = std::min<size_t>(nMax, m_buffer.size() - m_nCur);
        std::memcpy(&m_buffer[m_nCur], from, part);
        m_nCur += part;
        from += part;
        nMax -= static_cast<UINT>(part);
    }
}

UINT CArchive::Read(void* lpBuf, UINT nMax)
{
    BYTE* to = static_cast<BYTE*>(lpBuf);
    UINT total = 0;
    while (total < nMax) {
        if (m_nCur == m_nEnd) {
            m_nCur = 0;
            m_nEnd = m_pFile->Read(m_buffer.data(), static_cast<UINT>(m_buffer.size()));
            if (m_nEnd == 0)
                break;
        }
        size_t part = std::min<size_t>(nMax - total, m_nEnd - m_nCur);
        std::memcpy(to + total, &m_buffer[m_nCur], part);
        m_nCur += part;
        total += static_cast<UINT>(part);
    }
    return total;
}

void CArchive::ReadExactly(void* lpBuf, UINT nMax)
{
    if (Read(lpBuf, nMax) != nMax)
        AfxThrowArchiveException(CArchiveException::endOfFile);
}

void CArchive::Flush()
{
    if (m_nMode == store && m_nCur > 0) {
        // Emptied first: a failed write must not be written again by a later flush.
        size_t count = m_nCur;
        m_nCur = 0;
        m_pFile->Write(m_buffer.data(), static_cast<UINT>(count));
    }
}

void CArchive::Close()
{
    Flush();
    m_pFile = NULL;
}

CArchive& CArchive::operator<<(LONG l)
{
    DWORD v = static_cast<DWORD>(l);
    const BYTE bytes[4] = {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)};
    Write(bytes, 4);
    return *this;
}

CArchive& CArchive::operator>>(LONG& l)
{
    BYTE bytes[4];
    ReadExactly(bytes, 4);
    l = static_cast<LONG>(DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24);
    return *this;
}

CArchive& operator<<(CArchive& ar, const CString& str)
{
    DWORD n = static_cast<DWORD>(str.GetLength());
    BYTE prefix[7] = {0xFF, 0xFF, 0xFF};
    UINT size;
    if (n < 0xFF) {
        prefix[0] = BYTE(n);
        size = 1;
    } else if (n < 0xFFFE) {
        prefix[1] = BYTE(n);
        prefix[2] = BYTE(n >> 8);
        size = 3;
    } else {
        for (int i = 0; i < 4; ++i)
            prefix[3 + i] = BYTE(n >> (8 * i));
        size = 7;
    }
    ar.Write(prefix, size);
    ar.Write(str.GetString(), n);
    return ar;
}

// The length in characters; a wide mark sets `wide` and is followed by a prefix of its own.
static DWORD ReadStringLength(CArchive& ar, bool& wide)
{
    for (;;) {
        BYTE b;
        ar.ReadExactly(&b, 1);
        if (b != 0xFF)
            return b;
        BYTE w[2];
        ar.ReadExactly(w, 2);
        WORD word = static_cast<WORD>(w[0] | w[1] << 8);
        if (word == 0xFFFE) {
            wide = true;
            continue;
        }
        if (word != 0xFFFF)
            return word;
        BYTE d[4];
        ar.ReadExactly(d, 4);
        return DWORD(d[0]) | DWORD(d[1]) << 8 | DWORD(d[2]) << 16 | DWORD(d[3]) << 24;
    }
}

// UTF-16 little-endian to the ANSI code page (ASCII only in the native build).
static CString WideToAnsi(const std::string& bytes)
{
    size_t n = bytes.size() / 2;
    if (n == 0)
        return CString();
#ifdef _WIN32
    std::wstring text(n, L'\0');
    std::memcpy(&text[0], bytes.data(), 2 * n);
    int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(n), NULL, 0, NULL, NULL);
    std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(n), &ansi[0], size, NULL, NULL);
    return CString(ansi);
#else
    std::string ansi(n, '?');
    for (size_t i = 0; i < n; ++i) {
        unsigned c = BYTE(bytes[2 * i]) | BYTE(bytes[2 * i + 1]) << 8;
        if (c < 0x80)
            ansi[i] = static_cast<char>(c);
    }
    return CString(ansi);
#endif
}

CArchive& operator>>(CArchive& ar, CString& str)
{
    bool wide = false;
    DWORD length = ReadStringLength(ar, wide);
    // Taken a slice at a time, so that a damaged length allocates no more
    // than the file holds before its end is met.
    const unsigned long long bytes = wide ? 2ull * length : length;
    const size_t slice = 65536;
    std::string data;
    while (data.size() < bytes) {
        size_t part = static_cast<size_t>(std::min<unsigned long long>(bytes - data.size(), slice));
        size_t old = data.size();
        data.resize(old + part);
        ar.ReadExactly(&data[old], static_cast<UINT>(part));
    }
    str = wide ? WideToAnsi(data) : CString(data);
    return ar;
}
