// The listing step end to end: the real dialog, the real batch under Wine's
// cmd and the real companion disassembler, on targets made by the build or
// written here. Every message box is answered by the scripted seam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "listing/ListingGeneration.h"
#include "tests/app/DialogFixture.h"
#include "tests/launch/LaunchSupport.h"

namespace {

const char kDsmCaption[] = "Could not create DSM file -- restart Korvane!";
const char kNotPe[] = "This file is not PE format -- possible it looks like DOS format";

class ListingTest : public TracerDialogTest {
protected:
    void SetUp() override
    {
        g_dwListingWaitMs = 600000;
        ::GetCurrentDirectoryA(sizeof saved, saved);
        work = WinPath(LAUNCH_WORK) + "\\" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveTree(work);
        ::CreateDirectoryA(WinPath(LAUNCH_WORK).c_str(), NULL);
        ASSERT_TRUE(::CreateDirectoryA(work.c_str(), NULL));
        start = MakeStartFolder("start");
        targets = work + "\\targets";
        ASSERT_TRUE(::CreateDirectoryA(targets.c_str(), NULL));
        ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_PROBE).c_str(), (targets + "\\probe.exe").c_str(), FALSE));
        // The dialog takes its start folder from the current directory.
        ASSERT_TRUE(::SetCurrentDirectoryA(start.c_str()));
        TracerDialogTest::SetUp();
        ASSERT_EQ(start + "\\AR\\", dlg->m_strArchiveDir.Str());
    }
    void TearDown() override
    {
        dlg->CloseListing();
        TracerDialogTest::TearDown();
        ::SetCurrentDirectoryA(saved);
    }

    // A start folder in the work folder: AR and the disassembler.
    std::string MakeStartFolder(const std::string& name)
    {
        std::string folder = work + "\\" + name;
        ::CreateDirectoryA(folder.c_str(), NULL);
        ::CreateDirectoryA((folder + "\\AR").c_str(), NULL);
        ::CopyFileA(WinPath(LAUNCH_DISASSEMBLER).c_str(), (folder + "\\Korvane.dll").c_str(), FALSE);
        return folder;
    }
    void UseStartFolder(const std::string& folder) { dlg->m_strArchiveDir = (folder + "\\AR\\").c_str(); }

    // As an attach does: the name in lower case, its folder current.
    int Load(const std::string& folder, const std::string& name, int forArchive = 0)
    {
        std::string lower = name;
        ::CharLowerA(&lower[0]);
        dlg->m_strTargetDir = folder.c_str();
        dlg->m_strTargetName = lower.c_str();
        ::SetCurrentDirectoryA(folder.c_str());
        return dlg->LoadListing(forArchive);
    }
    std::string Listing(const std::string& name) const { return start + "\\AR\\" + name; }

    std::vector<std::string> DisasmCells() const
    {
        std::vector<std::string> cells;
        for (int row = 0; row < RowCount(); ++row)
            cells.push_back(Cell(row, 4));
        return cells;
    }
    bool Listed(const std::string& text) const
    {
        for (const std::string& cell : DisasmCells())
            if (cell == text)
                return true;
        return false;
    }
    // Nothing of the listing is held any more.
    void ExpectNoListing() const
    {
        EXPECT_EQ(INVALID_HANDLE_VALUE, dlg->m_hListingFile);
        EXPECT_EQ(INVALID_HANDLE_VALUE, dlg->m_hListingMapping);
        EXPECT_EQ(nullptr, dlg->m_pListing);
        EXPECT_EQ(0, dlg->m_mapAll.GetCount());
    }
    // The one box shown since `before`.
    ScriptedUi::MessageBoxCall OnlyBoxSince(size_t before) const
    {
        auto boxes = ui.MessageBoxes();
        EXPECT_EQ(before + 1, boxes.size());
        return boxes.size() > before ? boxes[before] : ScriptedUi::MessageBoxCall{NULL, "", "", 0};
    }
    void ExpectDsmBox(size_t before, const std::string& path, const char* sentence = "The file has a bad format !")
    {
        auto box = OnlyBoxSince(before);
        EXPECT_EQ("[ " + path + " ]\n  " + sentence, box.text);
        EXPECT_EQ(kDsmCaption, box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_SETFOREGROUND), box.type);
        EXPECT_EQ(dlg->m_hWnd, box.owner);
    }
    void ExpectFrameworkBox(size_t before, const char* text)
    {
        auto box = OnlyBoxSince(before);
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(AfxGetAppName(), box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), box.type);
    }

    std::string work, start, targets;
    char saved[MAX_PATH] = {};
};

TEST_F(ListingTest, FirstLoadGeneratesConvertsAndListsStringData)
{
    ASSERT_EQ(1, Load(targets, "Probe.exe"));
    EXPECT_TRUE(ui.MessageBoxes().empty());

    std::string listing = ReadBytes(Listing("probe.dsm"));
    ASSERT_GE(listing.size(), 500u);
    EXPECT_EQ('\'', listing[0]) << "converted in place";
    ASSERT_NE(nullptr, dlg->m_pListing);
    EXPECT_NE(INVALID_HANDLE_VALUE, dlg->m_hListingFile);
    EXPECT_NE(INVALID_HANDLE_VALUE, dlg->m_hListingMapping);

    // Str Data is the one kind ticked: its points are the rows.
    EXPECT_GT(dlg->m_mapCall.GetCount(), 0);
    EXPECT_GT(dlg->m_mapJmp.GetCount(), 0);
    EXPECT_GE(dlg->m_mapStrData.GetCount(), 3);
    EXPECT_EQ(dlg->m_mapStrData.GetCount(), RowCount());
    EXPECT_TRUE(Listed("\"Hello from the probe\""));
    EXPECT_TRUE(Listed("\"Korvane greets one\""));
    EXPECT_TRUE(Listed("\"Korvane greets many\""));
    for (int row = 0; row < RowCount(); ++row) {
        ListingRecord* record = RowRecord(row);
        ASSERT_GE(reinterpret_cast<char*>(record), dlg->m_pListing);
        ASSERT_LT(reinterpret_cast<char*>(record), dlg->m_pListing + listing.size());
        EXPECT_EQ(kindStrData, record->kind);
        EXPECT_EQ(row, record->row);
    }

    // The batch and the disassembler's copy are gone; nothing else was made.
    EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
    EXPECT_EQ((std::vector<std::string>{"AR", "Korvane.dll"}), FolderNames(start));
}

TEST_F(ListingTest, NewerListingIsReusedWithoutRunningTheBatch)
{
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    ListingRecord* record = RowRecord(0);
    size_t offset = reinterpret_cast<char*>(record) - dlg->m_pListing;
    record->hits = 42;
    record->savedByte = 0xCC;
    int points = dlg->m_mapAll.GetCount();
    dlg->CloseListing();
    ExpectNoListing();
    EXPECT_EQ(0, RowCount());

    // Without the disassembler a generation could not succeed.
    ASSERT_TRUE(::DeleteFileA((start + "\\Korvane.dll").c_str()));
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    EXPECT_TRUE(ui.MessageBoxes().empty());
    EXPECT_EQ(points, dlg->m_mapAll.GetCount());
    EXPECT_EQ(dlg->m_mapStrData.GetCount(), RowCount());
    ListingRecord* again = reinterpret_cast<ListingRecord*>(dlg->m_pListing + offset);
    EXPECT_EQ(42, again->hits) << "walked, not converted again";
    EXPECT_EQ(0, again->savedByte);
    EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
}

TEST_F(ListingTest, ListingNotNewerThanItsTargetIsGeneratedAgain)
{
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    ListingRecord* record = RowRecord(0);
    size_t offset = reinterpret_cast<char*>(record) - dlg->m_pListing;
    dlg->CloseListing();

    // A touched target (later than its listing), then one of the same time.
    for (int sameTime = 0; sameTime < 2; ++sameTime) {
        // Hits left in the file show whether it was made anew.
        ASSERT_EQ(1, Load(targets, "probe.exe", 1));
        reinterpret_cast<ListingRecord*>(dlg->m_pListing + offset)->hits = 42;
        dlg->CloseListing();
        FILETIME listingTime = WriteTime(Listing("probe.dsm"));
        ASSERT_TRUE(SetWriteTime(targets + "\\probe.exe", sameTime ? listingTime : Later(listingTime, 3600)));

        ASSERT_EQ(1, Load(targets, "probe.exe")) << sameTime;
        EXPECT_TRUE(ui.MessageBoxes().empty());
        EXPECT_EQ(0, reinterpret_cast<ListingRecord*>(dlg->m_pListing + offset)->hits) << sameTime;
        EXPECT_EQ('\'', dlg->m_pListing[0]);
        EXPECT_GT(RowCount(), 0);
        EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
        dlg->CloseListing();
    }
}

TEST_F(ListingTest, ReusedListingThatWasNeverConvertedIsConverted)
{
    // A generated listing that was never mapped: OpenListing alone leaves it raw.
    ASSERT_EQ(2, (dlg->m_strTargetName = "probe.exe", ::SetCurrentDirectoryA(targets.c_str()), dlg->OpenListing(0)));
    dlg->CloseListing();
    std::string raw = ReadBytes(Listing("probe.dsm"));
    ASSERT_GE(raw.size(), 500u);
    ASSERT_NE('\'', raw[0]);

    ASSERT_EQ(1, Load(targets, "probe.exe"));
    EXPECT_TRUE(ui.MessageBoxes().empty());
    EXPECT_EQ('\'', dlg->m_pListing[0]);
    EXPECT_TRUE(Listed("\"Hello from the probe\""));
    int points = dlg->m_mapAll.GetCount();
    int strings = dlg->m_mapStrData.GetCount();
    EXPECT_GT(points, 0);
    dlg->CloseListing();

    // An archive load of the same listing walks it and finds the same points.
    ASSERT_EQ(1, Load(targets, "probe.exe", 1));
    EXPECT_EQ(points, dlg->m_mapAll.GetCount());
    EXPECT_EQ(strings, dlg->m_mapStrData.GetCount());
    EXPECT_EQ(0, RowCount()) << "the archive load fills the list itself";
}

TEST_F(ListingTest, BatchHasItsFourLinesWithEveryPathQuoted)
{
    // The stand-in writes the batch that ran it as the listing, which is then
    // too short to be one and stays in the AR folder for reading.
    std::string odd = MakeStartFolder("100% sure & (odd)");
    ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_SHOW_BATCH).c_str(), (odd + "\\Korvane.dll").c_str(), FALSE));
    UseStartFolder(odd);
    ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_PROBE).c_str(), (targets + "\\50% & more.exe").c_str(), FALSE));
    ASSERT_EQ(0, Load(targets, "50% & more.exe"));
    ExpectFrameworkBox(0, kNotPe);
    EXPECT_EQ("@echo off\r\n"
              "copy \"" + work + "\\100%% sure & (odd)\\Korvane.dll\" temp.exe /y\r\n"
              "temp.exe \"50%% & more.exe\" > \"" + work + "\\100%% sure & (odd)\\AR\\50%% & more.dsm\"\r\n"
              "@cls\r\n",
              ReadBytes(odd + "\\AR\\50% & more.dsm"));
    EXPECT_EQ((std::vector<std::string>{"50% & more.exe", "probe.exe"}), FolderNames(targets));
}

TEST_F(ListingTest, BatchThatCannotStartIsReportedByTheLaunchAndTheListing)
{
    // Batch files run through the command processor that COMSPEC names.
    char comspec[MAX_PATH] = {};
    ::GetEnvironmentVariableA("COMSPEC", comspec, sizeof comspec);
    ::SetEnvironmentVariableA("COMSPEC", (work + "\\no such folder\\cmd.exe").c_str());
    int loaded = Load(targets, "probe.exe");
    ::SetEnvironmentVariableA("COMSPEC", comspec[0] ? comspec : NULL);

    EXPECT_EQ(0, loaded);
    auto boxes = ui.MessageBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("Could not create the debug process", boxes[0].caption);
    EXPECT_EQ("[ temp.bat ]\n  Unknown Error !", boxes[0].text);
    EXPECT_EQ(dlg->m_hWnd, boxes[0].owner);
    EXPECT_EQ("[ " + Listing("probe.dsm") + " ]\n  The file has a bad format !", boxes[1].text);
    EXPECT_EQ(kDsmCaption, boxes[1].caption);
    ExpectNoListing();
    EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
}

TEST_F(ListingTest, BatchThatCannotBeWrittenIsReportedAndNothingRuns)
{
    // A scrubbed leftover that someone else holds open without write sharing.
    ASSERT_TRUE(WriteBytes(targets + "\\temp.bat", "temp.bat"));
    HANDLE holder = ::CreateFileA((targets + "\\temp.bat").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    int loaded = Load(targets, "probe.exe");
    ::CloseHandle(holder);

    EXPECT_EQ(0, loaded);
    ExpectDsmBox(0, targets + "\\temp.bat", "The file could not be written !");
    ExpectNoListing();
    EXPECT_FALSE(FileExists(Listing("probe.dsm")));
    EXPECT_FALSE(FileExists(targets + "\\temp.exe"));
    // What stays is the leftover, which the next attach takes back.
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
}

TEST_F(ListingTest, BatchThatRunsTooLongIsEndedWithItsDisassembler)
{
    ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_SLEEPER).c_str(), (start + "\\Korvane.dll").c_str(), FALSE));
    g_dwListingWaitMs = 1500;
    DWORD begun = ::GetTickCount();
    ASSERT_EQ(0, Load(targets, "probe.exe"));
    EXPECT_LT(::GetTickCount() - begun, 60000u) << "the sleeper was waited out instead of ended";
    ExpectDsmBox(0, Listing("probe.dsm") + "(WAIT_TIMEOUT)");
    ExpectNoListing();
    EXPECT_FALSE(FileExists(Listing("probe.dsm")));
    EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
    EXPECT_EQ(0, ProcessesNamed("temp.exe"));
}

TEST_F(ListingTest, ListingPathFollowsTheTargetName)
{
    ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_PROBE).c_str(), (targets + "\\tool.exe.exe").c_str(), FALSE));
    ASSERT_EQ(1, Load(targets, "tool.exe.exe"));
    EXPECT_TRUE(FileExists(Listing("tool.dsm.dsm")));
    dlg->CloseListing();

    ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_PROBE).c_str(), (targets + "\\prog.bin").c_str(), FALSE));
    ASSERT_EQ(0, Load(targets, "prog.bin"));
    ExpectDsmBox(0, start + "\\AR\\prog.bin");
    ExpectNoListing();

    // A listing path the file functions cannot take is refused before any batch runs.
    std::string longName(MAX_PATH - 8, 'n');
    ASSERT_EQ(0, Load(targets, longName + ".exe"));
    ExpectDsmBox(1, start + "\\AR\\" + longName + ".dsm");
    ExpectNoListing();

    // Only the name is renamed: a start folder called like a program keeps its name.
    std::string kit = MakeStartFolder("kit.exe");
    UseStartFolder(kit);
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    EXPECT_TRUE(FileExists(kit + "\\AR\\probe.dsm"));
    EXPECT_EQ(2u, ui.MessageBoxes().size());
    EXPECT_EQ((std::vector<std::string>{"probe.exe", "prog.bin", "tool.exe.exe"}), FolderNames(targets));
}

TEST_F(ListingTest, BlanksAndCommandCharactersInNamesStayNames)
{
    std::string odd = MakeStartFolder("st a&b^c(d)e%f%!g");
    UseStartFolder(odd);
    std::string folder = work + "\\tg x&y %PATH% (1)";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), NULL));
    ASSERT_TRUE(WriteBytes(folder + "\\keep.txt", "kept"));
    // Unquoted, the second name would run a command of its own.
    const std::vector<std::string> names = {"h &o%st(1) ^x.exe", "x & del keep.txt & y.exe"};
    for (const std::string& name : names)
        ASSERT_TRUE(::CopyFileA(WinPath(LAUNCH_PROBE).c_str(), (folder + "\\" + name).c_str(), FALSE)) << name;
    for (const std::string& name : names) {
        ASSERT_EQ(1, Load(folder, name)) << name;
        EXPECT_TRUE(Listed("\"Hello from the probe\"")) << name;
        EXPECT_TRUE(FileExists(odd + "\\AR\\" + name.substr(0, name.size() - 4) + ".dsm")) << name;
        EXPECT_EQ((std::vector<std::string>{names[0], "keep.txt", names[1]}), FolderNames(folder)) << name;
        dlg->CloseListing();
    }
    EXPECT_EQ(2u, FolderNames(odd + "\\AR").size());
    EXPECT_EQ((std::vector<std::string>{"AR", "Korvane.dll"}), FolderNames(odd));
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(ListingTest, FilesThatAreNoProgramsAreRefused)
{
    // A DOS program (mov ah,9; mov dx,108; int 21; ret; "Hi$") and plain text.
    ASSERT_TRUE(WriteBytes(targets + "\\dos.com", std::string("\xB4\x09\xBA\x08\x01\xCD\x21\xC3Hi$", 11)));
    ASSERT_TRUE(WriteBytes(targets + "\\notes.exe", "These are notes, not a program.\r\n"));
    for (const char* name : {"dos.com", "notes.exe"}) {
        std::string listing = std::string(name, std::strlen(name) - 4) + ".dsm";
        // The short listing stays; the second attach reuses it and fails alike.
        for (int attempt = 0; attempt < 2; ++attempt) {
            size_t before = ui.MessageBoxes().size();
            ASSERT_EQ(0, Load(targets, name)) << name;
            ExpectFrameworkBox(before, kNotPe);
            ExpectNoListing();
            EXPECT_EQ(0, RowCount());
            EXPECT_TRUE(FileExists(Listing(listing))) << name;
        }
    }
    EXPECT_EQ((std::vector<std::string>{"dos.com", "notes.exe", "probe.exe"}), FolderNames(targets));

    // The disassembler cannot read a folder: its empty output is no listing
    // and is not kept to be reused.
    ASSERT_TRUE(::CreateDirectoryA((targets + "\\folder.exe").c_str(), NULL));
    size_t before = ui.MessageBoxes().size();
    ASSERT_EQ(0, Load(targets, "folder.exe"));
    ExpectDsmBox(before, Listing("folder.dsm"));
    ExpectNoListing();
    EXPECT_FALSE(FileExists(Listing("folder.dsm")));
}

TEST_F(ListingTest, MissingPiecesAreNamedBeforeAnythingIsWritten)
{
    ASSERT_EQ(0, Load(targets, "ghost.exe"));
    ExpectDsmBox(0, targets + "\\ghost.exe", "The file does not exist !");

    // A file of the user's under one of the batch's names is left alone.
    size_t boxes = 1;
    for (const char* name : {"temp.exe", "temp.bat"}) {
        std::string path = targets + "\\" + name;
        ASSERT_TRUE(WriteBytes(path, "@echo the user's own\r\n"));
        ASSERT_EQ(0, Load(targets, "probe.exe"));
        ExpectDsmBox(boxes++, path, "The file already exists !");
        EXPECT_EQ("@echo the user's own\r\n", ReadBytes(path));
        ASSERT_TRUE(::DeleteFileA(path.c_str()));
    }

    ASSERT_TRUE(::DeleteFileA((start + "\\Korvane.dll").c_str()));
    ASSERT_EQ(0, Load(targets, "probe.exe"));
    ExpectDsmBox(boxes, start + "\\Korvane.dll", "The file does not exist !");

    ExpectNoListing();
    EXPECT_TRUE(FolderNames(start + "\\AR").empty());
    EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
}

TEST_F(ListingTest, LeftoversOfAnEarlierGenerationAreTakenBack)
{
    std::string batch = "@echo off\r\ncopy \"" + start + "\\Korvane.dll\" temp.exe /y\r\n"
                        "temp.exe \"probe.exe\" > \"" + start + "\\AR\\probe.dsm\"\r\n@cls\r\n";
    std::string copy = ReadBytes(start + "\\Korvane.dll");
    ASSERT_FALSE(copy.empty());
    // As a generation left them when the program ended during it, and as a
    // scrub left them when the deletion failed.
    const std::pair<std::string, std::string> leftovers[] = {{batch, copy}, {"temp.bat", "temp.exe"}};
    for (const auto& left : leftovers) {
        ASSERT_TRUE(WriteBytes(targets + "\\temp.bat", left.first));
        ASSERT_TRUE(WriteBytes(targets + "\\temp.exe", left.second));
        ASSERT_EQ(1, Load(targets, "probe.exe"));
        EXPECT_TRUE(Listed("\"Hello from the probe\""));
        EXPECT_EQ(std::vector<std::string>{"probe.exe"}, FolderNames(targets));
        dlg->CloseListing();
        ASSERT_TRUE(::DeleteFileA(Listing("probe.dsm").c_str()));
    }
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(ListingTest, ArchiveLoadAndLockedTargetTakeTheListingAsItIs)
{
    ASSERT_EQ(0, Load(targets, "probe.exe", 1));
    ExpectDsmBox(0, Listing("probe.dsm"));
    EXPECT_FALSE(FileExists(Listing("probe.dsm")));

    // A stale listing is taken as it is: the hits left in it stay.
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    ListingRecord* record = RowRecord(0);
    size_t offset = reinterpret_cast<char*>(record) - dlg->m_pListing;
    record->hits = 42;
    dlg->CloseListing();
    FILETIME listingTime = WriteTime(Listing("probe.dsm"));
    ASSERT_TRUE(SetWriteTime(targets + "\\probe.exe", Later(listingTime, 3600)));
    ASSERT_EQ(1, Load(targets, "probe.exe", 1));
    EXPECT_GT(dlg->m_mapStrData.GetCount(), 0);
    EXPECT_EQ(42, reinterpret_cast<ListingRecord*>(dlg->m_pListing + offset)->hits);
    dlg->CloseListing();

    // So is it for an attach while the target cannot be opened to read its time.
    HANDLE holder = ::CreateFileA((targets + "\\probe.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(1, Load(targets, "probe.exe"));
    ::CloseHandle(holder);
    ASSERT_NE(nullptr, dlg->m_pListing);
    EXPECT_EQ(42, reinterpret_cast<ListingRecord*>(dlg->m_pListing + offset)->hits);
    EXPECT_GT(RowCount(), 0);
    EXPECT_EQ(1u, ui.MessageBoxes().size());
}

TEST_F(ListingTest, ListingThatCannotBeUsedGetsTheFrameworkBox)
{
    // A stale listing held open elsewhere without delete sharing.
    ASSERT_TRUE(WriteBytes(Listing("probe.dsm"), std::string(600, 'x')));
    ASSERT_TRUE(SetWriteTime(targets + "\\probe.exe", Later(WriteTime(Listing("probe.dsm")), 3600)));
    HANDLE holder = ::CreateFileA(Listing("probe.dsm").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    ASSERT_EQ(0, Load(targets, "probe.exe"));
    ::CloseHandle(holder);
    ExpectFrameworkBox(0, "OS problem -- Restart Korvane!");
    ExpectNoListing();

    // An empty listing newer than its target cannot be mapped.
    FILETIME targetTime = WriteTime(targets + "\\probe.exe");
    ASSERT_TRUE(WriteBytes(Listing("probe.dsm"), ""));
    ASSERT_TRUE(SetWriteTime(Listing("probe.dsm"), Later(targetTime, 60)));
    ASSERT_EQ(0, Load(targets, "probe.exe"));
    ExpectFrameworkBox(1, "Could not create file mapping -- possible security problem");
    ExpectNoListing();

    // A listing larger than the address space can be mapped as a section but not viewed.
    HANDLE huge = ::CreateFileA(Listing("probe.dsm").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, huge);
    LONG high = 0;
    ::SetFilePointer(huge, static_cast<LONG>(0xC0000000u), &high, FILE_BEGIN);
    ASSERT_TRUE(::SetEndOfFile(huge));
    ::CloseHandle(huge);
    ASSERT_TRUE(SetWriteTime(Listing("probe.dsm"), Later(targetTime, 60)));
    ASSERT_EQ(0, Load(targets, "probe.exe"));
    ExpectFrameworkBox(2, "Could not map view of file -- possible memory problem");
    ExpectNoListing();
    ::DeleteFileA(Listing("probe.dsm").c_str());
}

TEST_F(ListingTest, CloseListingLetsGoOfEverythingInTheView)
{
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    ASSERT_GT(RowCount(), 0);
    dlg->m_pHitRecord = RowRecord(0);
    for (int round = 0; round < 2; ++round) {
        dlg->CloseListing();
        ExpectNoListing();
        EXPECT_EQ(0, RowCount());
        EXPECT_EQ(nullptr, dlg->m_pHitRecord);
        EXPECT_EQ(0, dlg->m_mapStrData.GetCount() + dlg->m_mapCall.GetCount() + dlg->m_mapJmp.GetCount()
                         + dlg->m_mapCallPtr.GetCount() + dlg->m_mapJmpPtr.GetCount());
    }
    // The listing file is free again: it can be deleted.
    EXPECT_TRUE(::DeleteFileA(Listing("probe.dsm").c_str()));
    // And the list fills again on the next load.
    ASSERT_EQ(1, Load(targets, "probe.exe"));
    EXPECT_EQ(dlg->m_mapStrData.GetCount(), RowCount());
}

} // namespace
