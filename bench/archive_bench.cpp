// The archive commands on the listing of a target with about 1 MB of code
// (some 44,000 points), every kind listed, every point counted: "Save
// Archive", "Load Archive" and "Run Archive" at pacing 0, on the real dialog
// under Wine. Each is printed in milliseconds and against a baseline measured
// in the same run: the same bytes written in one call; the listing loaded and
// listed without an archive; the counts' reset and the replay without the list.
//
//   archive_bench.exe [target [work folder [rounds]]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/TracerDlg.h"
#include "archive/HitArchive.h"
#include "bench/BenchTarget.h"
#include "bench/BenchUi.h"

namespace {

void ListEveryKind(CTracerDlg& dlg)
{
    for (int id : {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA})
        ::CheckDlgButton(dlg.m_hWnd, id, BST_CHECKED);
    dlg.SyncHitList();
}

void Line(const char* what, double ms, double baseline)
{
    std::printf("  %-40s %8.1f ms   %6.2f x baseline\n", what, ms, baseline > 0 ? ms / baseline : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    std::string target = WinPath(argc > 1 ? argv[1] : "/usr/lib/i386-linux-gnu/wine/i386-windows/windowscodecs.dll");
    std::string work = WinPath(argc > 2 ? argv[2] : ARCHIVE_BENCH_WORK);
    std::string start = work + "\\start", targets = work + "\\targets";
    for (const std::string& dir : {work, start, start + "\\AR", targets})
        ::CreateDirectoryA(dir.c_str(), NULL);
    std::string listing = start + "\\AR\\bench.dsm";
    if (!::CopyFileA(target.c_str(), (targets + "\\bench.exe").c_str(), FALSE)
        || !RebaseTo400000(targets + "\\bench.exe")
        || RunDisassemblerDirectly(WinPath(ARCHIVE_BENCH_DISASSEMBLER), targets + "\\bench.exe", listing) < 0) {
        std::fprintf(stderr, "cannot make the listing of %s in %s\n", target.c_str(), work.c_str());
        return 1;
    }

    BenchUi ui;
    ui.archive = start + "\\AR\\bench.ar";
    AfxSetUiSeam(&ui);
    ::SetCurrentDirectoryA(start.c_str());
    CTracerDlg dlg;
    if (!dlg.Create(IDD_KORVANE_DIALOG)) {
        std::fprintf(stderr, "cannot create the dialog\n");
        return 1;
    }
    dlg.m_strTargetName = "bench.exe";
    dlg.m_strTargetDir = targets.c_str();
    if (!dlg.LoadListing(1)) // converts it
        return 1;
    ListEveryKind(dlg);
    CountEveryPoint(dlg, false);
    const int points = dlg.m_mapAll.GetCount(), rows = dlg.m_listHits.GetItemCount();

    // The fastest of several rounds counts, as the least disturbed by the other work on the machine.
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    double save = 1e30, rawWrite = 1e30, load = 1e30, reload = 1e30, restore = 1e30;
    double replay = 1e30, resetAndReplay = 1e30;
    // The archive read as the commands read it, its entries put into the records; no list.
    auto readArchive = [&](bool bReplay) {
        CFile file;
        file.Open(ui.archive.c_str(), CFile::modeRead);
        CArchive ar(&file, CArchive::load);
        HitArchiveHeader header;
        ReadArchiveSignature(ar);
        ReadArchiveHeader(ar, header);
        DWORD size = ::GetFileSize(dlg.m_hListingFile, NULL);
        if (bReplay)
            ReplayArchiveEntries(ar, dlg.m_pListing, size, dlg.m_mapAll, [](ListingRecord*) { return true; });
        else
            RestoreArchiveEntries(ar, dlg.m_pListing, size, dlg.m_mapAll);
    };
    auto keep = [](double& best, double t0) { best = std::min(best, Now() - t0); };
    for (int round = 0; round < rounds; ++round) {
        double t0 = Now();
        dlg.SaveArchive();
        keep(save, t0);
        std::vector<char> bytes = ReadAll(ui.archive);
        t0 = Now();
        HANDLE out = ::CreateFileA((ui.archive + ".raw").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written = 0;
        ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
        ::FlushFileBuffers(out);
        ::CloseHandle(out);
        keep(rawWrite, t0);

        // The load's own steps without an archive: reset, listing walked, every kind listed.
        t0 = Now();
        dlg.m_bSaved = 1;
        dlg.ResetTrace(1, 0);
        dlg.m_strTargetName = "bench.exe";
        dlg.LoadListing(1);
        ListEveryKind(dlg);
        keep(reload, t0);
        t0 = Now();
        readArchive(false);
        keep(restore, t0);
        t0 = Now();
        dlg.LoadArchive();
        keep(load, t0);

        // Replay at pacing 0 in compare mode, and its parts without the list.
        dlg.SetMode(1, 1);
        t0 = Now();
        dlg.RunArchive();
        keep(replay, t0);
        t0 = Now();
        dlg.ResetHitCounts();
        readArchive(true);
        keep(resetAndReplay, t0);
    }

    std::printf("archive commands on the listing of %s\n", target.c_str());
    std::printf("  %d points, %d rows, archive of %lu bytes; fastest of %d rounds\n", points, rows,
                static_cast<unsigned long>(ReadAll(ui.archive).size()), rounds);
    Line("Save Archive", save, rawWrite);
    Line("  baseline: the same bytes in one write", rawWrite, rawWrite);
    Line("Load Archive (reset, listing, list, counts)", load, reload);
    Line("  baseline: reset, listing, list alone", reload, reload);
    Line("  the archive's own share", load - reload, reload);
    Line("    of it entries read and restored", restore, reload);
    Line("Run Archive, pacing 0", replay, resetAndReplay);
    Line("  baseline: counts' reset and replay, no cells", resetAndReplay, resetAndReplay);

    dlg.DestroyWindow();
    AfxSetUiSeam(NULL);
    return ui.boxes == 0 ? 0 : 1;
}
