// A byte string in the ANSI code page with the operations the tracer uses.
#pragma once

#include <cstdarg>
#include <string>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_s(text ? text : "") {}
    // The first `length` characters (none when negative).
    CString(const char* text, int length) : m_s(text && length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string()) {}
    CString(const std::string& text) : m_s(text) {}

    CString& operator=(const char* text) { m_s = text ? text : ""; return *this; }
    CString& operator+=(const CString& other) { m_s += other.m_s; return *this; }
    CString& operator+=(const char* text) { if (text) m_s += text; return *this; }
    CString& operator+=(char c) { m_s += c; return *this; }
    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_s + (b ? b : "")); }
    friend CString operator+(const char* a, const CString& b) { return CString((a ? a : "") + b.m_s); }

    operator const char*() const { return m_s.c_str(); }
    const char* GetString() const { return m_s.c_str(); }
    char GetAt(int index) const { return m_s[static_cast<size_t>(index)]; }
    char operator[](int index) const { return GetAt(index); }

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }

    // printf formatting; the result may be of any length.
    // MinGW's C++ library formats the C99 way (%zu, %lld), so its checks must
    // follow that dialect, not the one of the Microsoft runtime's printf.
    void Format(const char* format, ...)
#if defined(__MINGW32__)
        __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* format, va_list args);

    // Lower case in the ANSI code page (ASCII only in the native build).
    CString& MakeLower();
    // Replaces every occurrence of `from` (case-sensitive); returns how many.
    int Replace(const char* from, const char* to);
    // Index of the first occurrence at or after `start`, or -1.
    int Find(char c, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    // Index of the last occurrence, or -1.
    int ReverseFind(char c) const;
    // The first `count` characters (all of them when count is larger; none when negative).
    CString Left(int count) const;
    CString Right(int count) const;
    // From `first` to the end, or `count` characters from `first`; clipped to the string.
    CString Mid(int first) const;
    CString Mid(int first, int count) const;

    int Compare(const char* other) const;
    int CompareNoCase(const char* other) const;
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
    friend bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator!=(const char* a, const CString& b) { return !(b == a); }

    const std::string& Str() const { return m_s; }

private:
    std::string m_s;
};
