#include "framework/CString.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_s.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    m_s.assign(buffer.data(), static_cast<size_t>(needed));
}

CString& CString::MakeLower()
{
    if (m_s.empty())
        return *this;
#ifdef _WIN32
    CharLowerBuffA(&m_s[0], static_cast<DWORD>(m_s.size()));
#else
    for (char& c : m_s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
#endif
    return *this;
}

int CString::Replace(const char* from, const char* to)
{
    size_t fromLength = from ? std::strlen(from) : 0;
    if (fromLength == 0)
        return 0;
    std::string replacement = to ? to : "";
    std::string result;
    int count = 0;
    size_t pos = 0;
    for (size_t hit; (hit = m_s.find(from, pos, fromLength)) != std::string::npos; pos = hit + fromLength) {
        result.append(m_s, pos, hit - pos);
        result += replacement;
        ++count;
    }
    if (count) {
        result.append(m_s, pos, std::string::npos);
        m_s.swap(result);
    }
    return count;
}

int CString::Find(char c, int start) const
{
    if (start < 0 || start >= GetLength())
        return -1;
    size_t hit = m_s.find(c, static_cast<size_t>(start));
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::Find(const char* sub, int start) const
{
    if (!sub || start < 0 || start > GetLength())
        return -1;
    size_t hit = m_s.find(sub, static_cast<size_t>(start));
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::ReverseFind(char c) const
{
    size_t hit = m_s.rfind(c);
    return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

CString CString::Left(int count) const
{
    if (count <= 0)
        return CString();
    return CString(m_s.substr(0, static_cast<size_t>(count)));
}

CString CString::Right(int count) const
{
    if (count <= 0)
        return CString();
    if (count >= GetLength())
        return *this;
    return CString(m_s.substr(m_s.size() - static_cast<size_t>(count)));
}

CString CString::Mid(int first) const
{
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const
{
    if (first < 0)
        first = 0;
    if (count <= 0 || first >= GetLength())
        return CString();
    return CString(m_s.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

int CString::Compare(const char* other) const
{
    return std::strcmp(m_s.c_str(), other ? other : "");
}

int CString::CompareNoCase(const char* other) const
{
#ifdef _WIN32
    return lstrcmpiA(m_s.c_str(), other ? other : "");
#else
    const unsigned char* a = reinterpret_cast<const unsigned char*>(m_s.c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other ? other : "");
    for (;; ++a, ++b) {
        int d = std::tolower(*a) - std::tolower(*b);
        if (d || !*a)
            return d;
    }
#endif
}
