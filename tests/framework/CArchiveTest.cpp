// The archive's encoding, byte for byte, through a real file: string prefixes
// at their boundaries, wide strings, integers, and every early end.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "framework/CArchive.h"

namespace {

const char kPath[] = "archive_test.bin";

std::string FileBytes()
{
    std::ifstream in(kPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void SetFileBytes(const std::string& bytes)
{
    std::ofstream(kPath, std::ios::binary | std::ios::trunc) << bytes;
}

template <typename Store> std::string Stored(Store store)
{
    CFile file;
    EXPECT_TRUE(file.Open(kPath, CFile::modeCreate | CFile::modeWrite));
    CArchive ar(&file, CArchive::store);
    store(ar);
    ar.Close();
    file.Close();
    return FileBytes();
}

// Reads from the given bytes; the message of the framework's error when one is raised, else "".
template <typename Load> std::string Loaded(const std::string& bytes, Load load)
{
    SetFileBytes(bytes);
    CFile file;
    EXPECT_TRUE(file.Open(kPath, CFile::modeRead));
    CArchive ar(&file, CArchive::load);
    try {
        load(ar);
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
        return e.GetErrorMessage().Str();
    }
    return "";
}

const std::string kEof = "An attempt was made to access an unnamed file past its end.";

TEST(CArchive, StringsTakeTheShortestPrefixAndReadBack)
{
    struct Row { size_t length; std::string prefix; };
    const Row rows[] = {{0, std::string("\x00", 1)}, {254, "\xFE"}, {255, std::string("\xFF\xFF\x00", 3)},
                        {300, "\xFF\x2C\x01"},
                        {65533, "\xFF\xFD\xFF"}, {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
                        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)}};
    for (const Row& row : rows) {
        std::string text(row.length, 'x');
        for (size_t i = 0; i < row.length; ++i)
            text[i] = static_cast<char>('a' + i % 26);
        std::string bytes = Stored([&](CArchive& ar) { ar << CString(text) << LONG(-2); });
        EXPECT_EQ(bytes, row.prefix + text + "\xFE\xFF\xFF\xFF") << row.length;
        CString back;
        LONG after = 0;
        EXPECT_EQ(Loaded(bytes, [&](CArchive& ar) { ar >> back >> after; }), "");
        EXPECT_EQ(back.Str(), text);
        EXPECT_EQ(after, -2) << "the reader stops right after the string";
    }
}

TEST(CArchive, WideStringsAreConvertedAndIntegersAreLittleEndian)
{
    std::string wide300, text300;
    for (int i = 0; i < 300; ++i) {
        text300 += char('0' + i % 10);
        wide300 += std::string(1, text300.back()) + '\0';
    }
    struct Row { std::string bytes, text; };
    const Row rows[] = {{std::string("\xFF\xFE\xFF\x03h\0i\0!\0", 10), "hi!"}, {std::string("\xFF\xFE\xFF\x00", 4), ""},
                        {"\xFF\xFE\xFF\xFF\x2C\x01" + wide300, text300}};
    for (const Row& row : rows) {
        CString text;
        LONG values[3] = {};
        std::string ints("\x01\x00\x00\x00\xFF\xFF\xFF\xFF\x00\x00\x00\x80", 12);
        EXPECT_EQ(Loaded(row.bytes + ints, [&](CArchive& ar) { ar >> text >> values[0] >> values[1] >> values[2]; }),
                  "");
        EXPECT_EQ(text.Str(), row.text);
        EXPECT_TRUE(values[0] == 1 && values[1] == -1 && values[2] == INT_MIN) << row.text;
    }
    EXPECT_EQ(Stored([](CArchive& ar) { ar << LONG(0x12345678) << LONG(INT_MIN); }),
              std::string("\x78\x56\x34\x12\x00\x00\x00\x80", 8));
}

// Whatever length a damaged prefix claims, the reader allocates no more than
// the file holds (a 32-bit process could not allocate 4 GB at all).
TEST(CArchive, AnEarlyEndThrowsEndOfFileAtEveryLength)
{
    std::string whole = Stored([](CArchive& ar) { ar << CString(std::string(300, 's')) << LONG(7) << CString("ab"); });
    for (size_t length = 0; length < whole.size(); ++length) {
        CString a, b;
        LONG n;
        EXPECT_EQ(Loaded(whole.substr(0, length), [&](CArchive& ar) { ar >> a >> n >> b; }), kEof) << length;
    }
    for (const std::string& huge : {std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFFtail", 11),
                                    std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFFtail", 14)}) {
        CString text;
        EXPECT_EQ(Loaded(huge, [&](CArchive& ar) { ar >> text; }), kEof);
    }
    // Many values through the 4096-byte buffer.
    std::string many = Stored([](CArchive& ar) {
        for (LONG i = 0; i < 3000; ++i)
            ar << i << CString(std::string(static_cast<size_t>(i % 7), 'z'));
    });
    EXPECT_EQ(Loaded(many, [](CArchive& ar) {
        for (LONG i = 0; i < 3000; ++i) {
            LONG value;
            CString text;
            ar >> value >> text;
            ASSERT_EQ(value, i);
            ASSERT_EQ(text.GetLength(), i % 7);
        }
    }), "");
}

TEST(CFile, FailuresAreReportedByResultOrException)
{
    std::remove(kPath);
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(kPath, CFile::modeRead, &error));
    EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(error.GetErrorMessage().Str(), std::string(kPath) + " was not found.");
    SetFileBytes("x");
    ASSERT_TRUE(file.Open(kPath, CFile::modeRead));
    EXPECT_THROW(file.Write("y", 1), CFileException) << "a file opened for reading";
}

} // namespace
