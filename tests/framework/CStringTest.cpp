#include <gtest/gtest.h>

#include <string>

#include "framework/CString.h"

namespace {

TEST(CString, FormatProducesAnyLength)
{
    CString s;
    s.Format("%d", -17);
    EXPECT_EQ(s, "-17");
    s.Format("[ %s ] %08X %u%%", "C:\\t\\prog.exe", 0x401005u, 7u);
    EXPECT_EQ(s, "[ C:\\t\\prog.exe ] 00401005 7%");
    std::string longText(5000, 'a');
    s.Format("<%s>", longText.c_str());
    EXPECT_EQ(s.GetLength(), 5002);
    EXPECT_EQ(s.Str(), "<" + longText + ">");
    // Formatting from the string's own text.
    s = "abc";
    s.Format("%s%s", s.GetString(), s.GetString());
    EXPECT_EQ(s, "abcabc");
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    // The C99 length modifiers, in the Win32 build too.
    s.Format("%zu|%lld|%llu|%5.2f", sizeof(int), -1234567890123LL, 18446744073709551615ULL, 2.5);
    EXPECT_EQ(s, "4|-1234567890123|18446744073709551615| 2.50");
}

TEST(CString, ComparisonAndLength)
{
    CString a("prog.exe");
    EXPECT_TRUE(a == "prog.exe");
    EXPECT_TRUE("prog.exe" == a);
    EXPECT_TRUE(a == CString("prog.exe"));
    EXPECT_TRUE(a != "prog.ex");
    EXPECT_TRUE(a != CString("Prog.exe"));
    EXPECT_LT(CString("abc").Compare("abd"), 0);
    EXPECT_GT(CString("abd").Compare("abc"), 0);
    EXPECT_EQ(CString("abc").Compare("abc"), 0);
    EXPECT_GT(CString("abc").Compare(nullptr), 0);
    EXPECT_EQ(CString("Start Process").CompareNoCase("start PROCESS"), 0);
    EXPECT_NE(CString("Start").CompareNoCase("Stop"), 0);
    EXPECT_EQ(CString().GetLength(), 0);
    EXPECT_TRUE(CString().IsEmpty());
    EXPECT_TRUE(CString(nullptr).IsEmpty());
    EXPECT_EQ(CString("abcdef", 3), "abc");
    EXPECT_TRUE(CString("abcdef", -1).IsEmpty());
    EXPECT_TRUE(CString(nullptr, 4).IsEmpty());
    CString e("x");
    e.Empty();
    EXPECT_TRUE(e.IsEmpty());
    EXPECT_EQ(CString("a") + "b" + CString("c"), "abc");
}

TEST(CString, MakeLowerLowersLettersOnly)
{
    CString s("C:\\Program Files\\PROG.EXE 123_-");
    EXPECT_EQ(s.MakeLower(), "c:\\program files\\prog.exe 123_-");
    CString empty;
    EXPECT_TRUE(empty.MakeLower().IsEmpty());
}

TEST(CString, ReplaceEveryOccurrence)
{
    CString s("prog.exe.exe");
    EXPECT_EQ(s.Replace(".exe", ".dsm"), 2);
    EXPECT_EQ(s, "prog.dsm.dsm");
    CString grow("aaa");
    EXPECT_EQ(grow.Replace("a", "aa"), 3);
    EXPECT_EQ(grow, "aaaaaa");
    CString shrink("abcabc");
    EXPECT_EQ(shrink.Replace("bc", ""), 2);
    EXPECT_EQ(shrink, "aa");
    CString none("abc");
    EXPECT_EQ(none.Replace("x", "y"), 0);
    EXPECT_EQ(none.Replace("", "y"), 0);
    EXPECT_EQ(none.Replace(nullptr, "y"), 0);
    EXPECT_EQ(none, "abc");
    EXPECT_EQ(none.Replace("b", nullptr), 1);
    EXPECT_EQ(none, "ac");
}

TEST(CString, FindAndReverseFind)
{
    CString s("C:\\dir\\prog.exe");
    EXPECT_EQ(s.Find('\\'), 2);
    EXPECT_EQ(s.Find('\\', 3), 6);
    EXPECT_EQ(s.Find('\\', 7), -1);
    EXPECT_EQ(s.Find('C', s.GetLength()), -1);
    EXPECT_EQ(s.Find('C', -1), -1);
    EXPECT_EQ(s.Find("prog"), 7);
    EXPECT_EQ(s.Find(".exe", 12), -1);
    EXPECT_EQ(s.Find("dir", 100), -1);
    EXPECT_EQ(s.ReverseFind('\\'), 6);
    EXPECT_EQ(s.ReverseFind('.'), 11);
    EXPECT_EQ(s.ReverseFind('z'), -1);
    EXPECT_EQ(CString().ReverseFind('a'), -1);
}

TEST(CString, LeftMidRightClipToTheString)
{
    CString s("prog.exe");
    EXPECT_EQ(s.Left(4), "prog");
    EXPECT_EQ(s.Left(0), "");
    EXPECT_EQ(s.Left(-3), "");
    EXPECT_EQ(s.Left(100), "prog.exe");
    EXPECT_EQ(s.Mid(5), "exe");
    EXPECT_EQ(s.Mid(4, 1), ".");
    EXPECT_EQ(s.Mid(6, 100), "xe");
    EXPECT_EQ(s.Mid(8), "");
    EXPECT_EQ(s.Mid(20), "");
    EXPECT_EQ(s.Mid(-2, 3), "pro");
    EXPECT_EQ(s.Mid(2, 0), "");
    EXPECT_EQ(s.Right(3), "exe");
    EXPECT_EQ(s.Right(50), "prog.exe");
    EXPECT_EQ(s.Right(0), "");
    EXPECT_EQ(s.GetAt(4), '.');
    EXPECT_EQ(s[0], 'p');
}

} // namespace
