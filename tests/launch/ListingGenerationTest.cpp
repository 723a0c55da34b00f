// The listing step end to end: the real dialog, the real batch under Wine's cmd and the real companion disassembler
// (or a stand-in for it); and the launch's error box, which the debuggee's launch shares.
#include <utility>

#include "debugger/LaunchProcess.h"
#include "listing/ListingGeneration.h"
#include "tests/app/DialogFixture.h"

namespace {

namespace fs = std::filesystem;

const char kDsm[] = "Could not create DSM file -- restart Korvane!";
const char kNotPe[] = "This file is not PE format -- possible it looks like DOS format";
// Blanks, command characters and %...% in the names: unquoted, or with the % not doubled, the batch would run
// something else or write elsewhere. Only the name's ".exe" becomes ".dsm", every one of them.
const char kProbe[] = "pro & be %os%.exe.exe";
const char kListing[] = "pro & be %os%.dsm.dsm";

bool Write(const std::string& path, const std::string& bytes)
{
    return static_cast<bool>(std::ofstream(path, std::ios::binary) << bytes);
}

TEST(LaunchProcess, ErrorBoxNamesTheWholeCommandLineAndTheError)
{
    ScriptedUi ui;
    // A command line longer than the system takes fails with a code of no text of its own.
    const std::string tooLong(40000, 'a');
    const std::string cases[][3] = { // program, command line, text
        {"no such program.exe", "\"no such program.exe\" -x y", "[ \"no such program.exe\" -x y ]\n  This file does not exist !"},
        {"C:\\windows\\win.ini", "\"win.ini\"", "[ \"win.ini\" ]\n  The file has a bad format !"},
        {tooLong, tooLong, "[ " + tooLong + " ]\n  Unknown Error !"}};
    for (const auto& c : cases)
        for (int flags : {int(launchDebuggee), 0}) {
            EXPECT_EQ(0, LaunchProcess(c[0].c_str(), c[1].c_str(), flags, ::GetDesktopWindow()));
            const ScriptedUi::MessageBoxCall box = ui.MessageBoxes().back();
            EXPECT_TRUE(box.owner == ::GetDesktopWindow() &&
                        Box(box.text, box.caption, box.type) == Box(c[2], "Could not create the debug process"))
                << (flags ? "debuggee: " : "batch: ") << box.caption << " " << box.text.substr(0, 60);
        }
    EXPECT_EQ(ui.MessageBoxes().size(), 6u) << "one box a launch";
}

class ListingTest : public TracerDialogTest {
protected:
    void SetUp() override
    {
        g_dwListingWaitMs = 600000;
        work = std::string(LAUNCH_WORK "\\") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        start = work + "\\st.exe %PATH% a&b^c(d)!g";
        targets = work + "\\tg x&y (1)";
        fs::remove_all(work);
        fs::create_directories(start + "\\AR");
        fs::create_directories(targets);
        ASSERT_TRUE(::CopyFileA(LAUNCH_DISASSEMBLER, (start + "\\Korvane.dll").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileA(LAUNCH_PROBE, (targets + "\\" + kProbe).c_str(), FALSE));
        // The dialog takes its start folder from the current directory.
        ASSERT_TRUE(::SetCurrentDirectoryA(start.c_str()));
        TracerDialogTest::SetUp();
    }
    // As an attach does: the target's folder current.
    int Load(const std::string& name, int forArchive = 0)
    {
        dlg->m_strTargetName = name.c_str();
        ::SetCurrentDirectoryA(targets.c_str());
        return dlg->LoadListing(forArchive);
    }
    std::string Listing(const std::string& name) const { return start + "\\AR\\" + name; }
    bool OnlyTargetLeft() const { return std::distance(fs::directory_iterator(targets), fs::directory_iterator()) == 1; }
    // Nothing of the listing is held any more: no row, point, view, file, mapping or hit.
    bool NoListing() const { return Loaded() == "|0|---" && dlg->m_pHitRecord == nullptr; }

    std::string work, start, targets;
};

// Made at the first load (the real batch, the real disassembler), converted and listed; then reused while newer than
// its target, else made anew.
TEST_F(ListingTest, AListingIsMadeOnceAndReusedOnlyWhileNewerThanItsTarget)
{
    const std::string target = targets + "\\" + kProbe, listing = Listing(kListing);
    // A batch of the same name in the tracer's own folder, where a bare name is looked for first, is never the one
    // run.
    char self[MAX_PATH];
    ::GetModuleFileNameA(NULL, self, MAX_PATH);
    const std::string here = fs::path(self).parent_path().string(), decoy = here + "\\temp.bat";
    ASSERT_TRUE(Write(decoy, "@echo decoy> \"%~dp0decoy.txt\"\r\n"));
    ::DeleteFileA((here + "\\decoy.txt").c_str());
    const int loaded = Load(kProbe);
    ::DeleteFileA(decoy.c_str());
    ASSERT_EQ(1, loaded);
    EXPECT_TRUE(OnlyTargetLeft() && ::GetFileAttributesA((here + "\\decoy.txt").c_str()) == INVALID_FILE_ATTRIBUTES);
    // Str Data is the one kind ticked: its points are the rows.
    EXPECT_EQ(dlg->m_mapStrData.GetCount(), RowCount());
    std::string cells = "|";
    for (int row = 0; row < RowCount(); ++row)
        cells += Cell(row, 4) + "|";
    for (const char* text : {"|\"Hello from the probe\"|", "|\"Korvane greets one\"|", "|\"Korvane greets many\"|"})
        EXPECT_NE(cells.find(text), std::string::npos) << text;

    // One generated but never converted (its load stopped early) is converted, in place, when reused.
    dlg->CloseListing();
    ASSERT_TRUE(::DeleteFileA(listing.c_str()));
    ASSERT_EQ(2, dlg->OpenListing(0));
    dlg->CloseListing();
    ASSERT_NE('\'', FileBytes(listing)[0]);
    // Made an hour ago, a file system's coarse times cannot hide a change.
    const auto made = fs::last_write_time(listing) - std::chrono::hours(1);
    fs::last_write_time(target, made - std::chrono::hours(1));
    fs::last_write_time(listing, made);
    ASSERT_EQ(1, Load(kProbe));
    EXPECT_EQ('\'', FileBytes(listing)[0]);
    const size_t offset = reinterpret_cast<char*>(RowRecord(0)) - dlg->m_pListing;
    auto hits = [&]() -> auto& { return reinterpret_cast<ListingRecord*>(dlg->m_pListing + offset)->hits; };
    // Closing lets go of everything that points into the view.
    dlg->m_pHitRecord = RowRecord(0);
    hits() = 42;
    dlg->CloseListing();
    EXPECT_TRUE(NoListing());
    // Neither the conversion nor the counts make it look newer than a target rebuilt meanwhile.
    EXPECT_TRUE(fs::last_write_time(listing) == made);

    // Loaded again: the count left in the file (42 where it was walked, not made anew) and whether rows are listed;
    // the count is left at 42 again.
    auto reload = [&](int forArchive) {
        if (Load(kProbe, forArchive) != 1)
            return std::string("not loaded");
        const std::string seen = std::to_string(hits()) + (RowCount() > 0 ? " listed" : " unlisted");
        hits() = 42;
        dlg->CloseListing();
        return seen;
    };
    EXPECT_EQ(reload(0), "42 listed") << "walked, not generated or converted again";
    // A stale listing is taken as it is by an archive load, which fills the list itself,
    fs::last_write_time(target, fs::last_write_time(listing) + std::chrono::hours(1));
    EXPECT_EQ(reload(1), "42 unlisted");
    // and by an attach that cannot open the target to read its time.
    HANDLE held = ::CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(reload(0), "42 listed");
    ::CloseHandle(held);
    // Touched, then of the same time: made anew, taking back what a scrub could not delete.
    ASSERT_TRUE(Write(targets + "\\temp.bat", "temp.bat") && Write(targets + "\\temp.exe", "temp.exe"));
    for (const char* when : {"touched", "same time"}) {
        EXPECT_EQ(reload(0), "0 listed") << when;
        EXPECT_TRUE(OnlyTargetLeft()) << when;
        fs::last_write_time(target, fs::last_write_time(listing)); // in whole seconds,
        fs::last_write_time(listing, fs::last_write_time(target)); // as is the listing then
    }
    EXPECT_TRUE(ui.MessageBoxes().empty());

    // A point's text not ended within its record: an archive load refuses the listing, an attach makes it anew.
    ASSERT_EQ(1, Load(kProbe));
    char* record = dlg->m_pListing + offset;
    record[BYTE(record[0])] = 'x';
    hits() = 42;
    dlg->CloseListing();
    fs::last_write_time(listing, fs::last_write_time(target) + std::chrono::hours(1));
    EXPECT_EQ(0, Load(kProbe, 1));
    EXPECT_TRUE(NoListing());
    ASSERT_EQ(1, Load(kProbe));
    EXPECT_EQ(0, hits());
    EXPECT_EQ(RowRecord(0)->text[RowRecord(0)->len - 35], '\0');
    ASSERT_EQ(ui.MessageBoxes().size(), 2u);
    for (const auto& box : ui.MessageBoxes())
        EXPECT_EQ(box.caption + "|" + box.text.substr(0, box.text.find(']') + 1), "Korvane|[ " + listing + " ]");
}

TEST_F(ListingTest, BatchQuotesEveryPathAndTakesBackWhatItLeftBehind)
{
    // The stand-in's listing is the batch that ran it: too short, so it stays to be read.
    ASSERT_TRUE(::CopyFileA(LAUNCH_STAND_IN, (start + "\\Korvane.dll").c_str(), FALSE));
    const std::string folder = work + "\\st.exe %%PATH%% a&b^c(d)!g";
    const std::string batch = "@echo off\r\ncopy \"" + folder + "\\Korvane.dll\" temp.exe /y\r\n"
                              "temp.exe \"pro & be %%os%%.exe.exe\" > \"" + folder + "\\AR\\pro & be %%os%%.dsm.dsm\"\r\n"
                              "@cls\r\n";
    // Then again over the batch and the copy as a generation left them when the program ended.
    for (size_t run = 1; run <= 2; ++run) {
        ASSERT_TRUE(run == 1 || (Write(targets + "\\temp.bat", batch)
                                 && ::CopyFileA(LAUNCH_STAND_IN, (targets + "\\temp.exe").c_str(), FALSE)));
        ASSERT_EQ(0, Load(kProbe));
        ASSERT_EQ(run, ui.MessageBoxes().size());
        EXPECT_EQ(kNotPe, ui.MessageBoxes().back().text);
        EXPECT_EQ(batch, FileBytes(Listing(kListing)));
        EXPECT_TRUE(OnlyTargetLeft());
        ASSERT_TRUE(::DeleteFileA(Listing(kListing).c_str()));
    }
}

TEST_F(ListingTest, EveryFailureIsShownInItsBoxAndLeavesNothingBehind)
{
    const std::string app = AfxGetAppName(), dll = start + "\\Korvane.dll", longName(MAX_PATH - 8, 'n');
    const std::string user = "@echo the user's own\r\n", exists = " ]\n  The file already exists !";
    // The listing step's box on a file, and the framework's own box.
    auto dsm = [](const std::string& file, const std::string& why = " ]\n  The file has a bad format !") {
        return Box("[ " + file + why, kDsm);
    };
    auto os = [&](const std::string& text) { return Box(text, app, MB_OK | MB_ICONEXCLAMATION); };
    HANDLE held = NULL; // a file held open elsewhere during the load
    auto hold = [&](const std::string& path, DWORD share) {
        held = ::CreateFileA(path.c_str(), GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
    };
    struct Row {
        std::string target;
        std::function<void()> arrange;
        std::string boxes;
        bool listingKept = false;
        std::string left = ""; // what temp.bat and temp.exe hold after the load: the user's own, unchanged
        int forArchive = 0;
    };
    // In order: some rows take up what an earlier one left.
    const Row rows[] = {
        {"ghost.exe", [] {}, dsm(targets + "\\ghost.exe", " ]\n  The file does not exist !")},
        {"prog.bin", [] {}, dsm(Listing("prog.bin"))},
        {longName + ".exe", [] {}, dsm(Listing(longName + ".dsm"))},
        {kProbe, [] {}, dsm(Listing(kListing)), false, "", 1},
        {kProbe, [&] { Write(targets + "\\temp.exe", user); }, dsm(targets + "\\temp.exe", exists), false, user},
        {kProbe, [&] { Write(targets + "\\temp.bat", user); }, dsm(targets + "\\temp.bat", exists), false, user},
        // A scrubbed leftover that cannot be written: nothing runs.
        {kProbe, [&] { Write(targets + "\\temp.bat", "temp.bat"); hold(targets + "\\temp.bat", FILE_SHARE_READ); },
         dsm(targets + "\\temp.bat", " ]\n  The file could not be written !"), false, "temp.bat"},
        // A DOS program (mov ah,9; mov dx,108; int 21; ret; "Hi$") and text: their short listings stay, so the next
        // attach fails alike.
        {"dos.com", [&] { Write(targets + "\\dos.com", std::string("\xB4\x09\xBA\x08\x01\xCD\x21\xC3Hi$", 11)); },
         os(kNotPe), true},
        {"dos.com", [] {}, os(kNotPe), true},
        {"notes.exe", [&] { Write(targets + "\\notes.exe", "These are notes.\r\n"); }, os(kNotPe), true},
        // The disassembler cannot read a folder: its empty output is no listing to keep.
        {"folder.exe", [&] { fs::create_directory(targets + "\\folder.exe"); }, dsm(Listing("folder.dsm"))},
        {"dos.com", [&] { // stale, and held open without delete sharing
             fs::last_write_time(targets + "\\dos.com", fs::last_write_time(Listing("dos.dsm")) + std::chrono::hours(1));
             hold(Listing("dos.dsm"), FILE_SHARE_READ | FILE_SHARE_WRITE);
         }, os("OS problem -- Restart Korvane!"), true},
        // Listings without a target to compare with, taken as they are.
        {"empty.exe", [&] { Write(Listing("empty.dsm"), ""); },
         os("Could not create file mapping -- possible security problem"), true},
        {"huge.exe", [&] { Write(Listing("huge.dsm"), ""); fs::resize_file(Listing("huge.dsm"), 0xC0000000u); },
         os("Could not map view of file -- possible memory problem"), true},
        // Batch files run through the command processor that COMSPEC names.
        {kProbe, [&] { ::SetEnvironmentVariableA("COMSPEC", (work + "\\no such folder\\cmd.exe").c_str()); },
         Box("[ \"temp.bat\" ]\n  Unknown Error !", "Could not create the debug process") + dsm(Listing(kListing))},
        // The stand-in sleeps, holding temp.bat open: unless it is ended, temp.bat stays.
        {"sleeper.exe",
         [&] {
             g_dwListingWaitMs = 1500;
             Write(targets + "\\sleeper.exe", "z");
             ::CopyFileA(LAUNCH_STAND_IN, dll.c_str(), FALSE);
         },
         dsm(Listing("sleeper.dsm") + "(WAIT_TIMEOUT)")},
        {kProbe, [&] { ::DeleteFileA(dll.c_str()); }, dsm(dll, " ]\n  The file does not exist !")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        row.arrange();
        const size_t before = ui.MessageBoxes().size();
        EXPECT_EQ(0, Load(row.target, row.forArchive));
        ::CloseHandle(std::exchange(held, HANDLE()));
        ::SetEnvironmentVariableA("COMSPEC", "C:\\windows\\system32\\cmd.exe"); // Wine's own
        const std::string stem = row.target == kProbe ? "pro & be %os%.exe" : row.target.substr(0, row.target.size() - 4);
        const bool kept = ::GetFileAttributesA(Listing(stem + ".dsm").c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(Boxes(before) + "|" + std::to_string(NoListing()) + std::to_string(kept) + "|" +
                      FileBytes(targets + "\\temp.bat") + FileBytes(targets + "\\temp.exe"),
                  row.boxes + "|1" + std::to_string(row.listingKept) + "|" + row.left);
        ::DeleteFileA((targets + "\\temp.bat").c_str());
        ::DeleteFileA((targets + "\\temp.exe").c_str());
    }
    // The listing step's boxes are the window's.
    for (const ScriptedUi::MessageBoxCall& box : ui.MessageBoxes())
        EXPECT_TRUE(box.caption == app || box.owner == dlg->m_hWnd) << box.text;
    ::DeleteFileA(Listing("huge.dsm").c_str());
}

// Folders this user cannot write, made so outside Wine before the test runs (the launch_locked_folders entry): a
// target's folder such as Program Files without elevation is worked around, the disassembler run from the archive
// folder on the target's full path; an archive folder is named as such.
TEST_F(ListingTest, AFolderThatCannotBeWrittenIsWorkedAroundOrNamed)
{
    const std::string locked = LAUNCH_WORK "\\locked", folder = locked + "\\target", archive = locked + "\\AR";
    if (std::getenv("KORVANE_LOCKED_FOLDERS") == nullptr)
        GTEST_SKIP() << "run by the launch_locked_folders entry, which makes the folders";
    char probe[MAX_PATH];
    if (::GetTempFileNameA(folder.c_str(), "krv", 0, probe) != 0) {
        ::DeleteFileA(probe);
        GTEST_SKIP() << "this user writes the read-only folder all the same (root?)";
    }
    dlg->m_strTargetName = "probe.exe";
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.c_str()));
    ASSERT_EQ(1, dlg->LoadListing(0)) << (ui.MessageBoxes().empty() ? "" : ui.MessageBoxes().back().text);
    EXPECT_GT(RowCount(), 0);
    char current[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(folder, current) << "the target's folder current again";
    for (const char* left : {"\\AR\\temp.bat", "\\AR\\temp.exe"})
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((start + left).c_str())) << left;
    dlg->CloseListing();
    ::DeleteFileA(Listing("probe.dsm").c_str());

    dlg->m_strArchiveDir = (archive + "\\").c_str();
    EXPECT_EQ(0, Load(kProbe));
    ASSERT_FALSE(ui.MessageBoxes().empty());
    EXPECT_EQ(ui.MessageBoxes().back().text, "[ " + archive + " ]\n  The folder cannot be written !");
    EXPECT_TRUE(OnlyTargetLeft());
}

} // namespace
