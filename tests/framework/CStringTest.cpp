#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/CString.h"

namespace {

TEST(CString, FormatOfAnyLength)
{
    CString s("abc");
    s.Format("%s%s", s.GetString(), s.GetString()); // from the string's own text
    EXPECT_EQ(s, "abcabc");
    std::string longText(5000, 'a');
    s.Format("<%s>", longText.c_str());
    EXPECT_EQ(s.Str(), "<" + longText + ">");
    // The C99 length modifiers, in the Win32 build too.
    s.Format("%zu|%lld|%llu|%5.2f|%08X", sizeof(int), -1234567890123LL, 18446744073709551615ULL, 2.5, 0x401005u);
    EXPECT_EQ(s, "4|-1234567890123|18446744073709551615| 2.50|00401005");
}

TEST(CString, ReplaceEveryOccurrence)
{
    struct Row { const char* text; const char* from; const char* to; int count; const char* result; };
    const Row rows[] = {
        {"prog.exe.exe", ".exe", ".dsm", 2, "prog.dsm.dsm"}, {"aaa", "a", "aa", 3, "aaaaaa"}, {"abcabc", "bc", "", 2, "aa"},
        {"abc", "x", "y", 0, "abc"}, {"abc", "", "y", 0, "abc"}, {"abc", nullptr, "y", 0, "abc"}, {"abc", "b", nullptr, 1, "ac"},
    };
    for (const Row& row : rows) {
        CString s(row.text);
        EXPECT_EQ(s.Replace(row.from, row.to), row.count) << row.text << " " << (row.from ? row.from : "(null)");
        EXPECT_EQ(s, row.result) << row.text;
    }
}

// Starts and counts outside the string find nothing and clip, never reading past it.
TEST(CString, FindAndCutsStayInBounds)
{
    CString s("C:\\dir\\prog.exe");
    std::vector<int> found = {s.Find('\\'), s.Find('\\', 3), s.Find('\\', 7), s.Find('C', s.GetLength()), s.Find('C', -1),
                              s.Find("prog"), s.Find(".exe", 12), s.Find("dir", 100), s.ReverseFind('\\'), s.ReverseFind('z'),
                              CString().ReverseFind('a')};
    EXPECT_EQ(found, (std::vector<int>{2, 6, -1, -1, -1, 7, -1, -1, 6, -1, -1}));
    CString p("prog.exe");
    EXPECT_EQ(p.Left(4) + "|" + p.Left(-3) + "|" + p.Left(100), "prog||prog.exe");
    EXPECT_EQ(p.Mid(4, 1) + "|" + p.Mid(6, 100) + "|" + p.Mid(8) + "|" + p.Mid(20) + "|" + p.Mid(-2, 3) + "|" + p.Mid(2, 0),
              ".|xe|||pro|");
    EXPECT_EQ(p.Right(50) + "|" + p.Right(0), "prog.exe|");
}

} // namespace
