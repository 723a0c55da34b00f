// From attach to filled list for a target with about 1 MB of code, split into
// its parts: the disassembly batch, the conversion, the filling of the point
// maps and the filling of the hit list; then the reuse of the listing. Runs
// under Wine on the real dialog, the real batch and the real disassembler.
//
//   listing_load_bench.exe [target [work folder [rounds]]]
//
// Every part is printed in milliseconds and as a share of the first load.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/TracerDlg.h"
#include "bench/BenchTarget.h"
#include "bench/BenchUi.h"
#include "listing/ListingGeneration.h"

namespace {

void Line(const char* what, double ms, double whole)
{
    std::printf("  %-44s %9.1f ms  %5.1f%%\n", what, ms, 100.0 * ms / whole);
}

} // namespace

int main(int argc, char** argv)
{
    std::string target = WinPath(argc > 1 ? argv[1] : "/usr/lib/i386-linux-gnu/wine/i386-windows/windowscodecs.dll");
    std::string work = WinPath(argc > 2 ? argv[2] : LISTING_BENCH_WORK);
    std::string disassembler = WinPath(LISTING_BENCH_DISASSEMBLER);

    std::string start = work + "\\start";
    std::string targets = work + "\\targets";
    ::CreateDirectoryA(work.c_str(), NULL);
    ::CreateDirectoryA(start.c_str(), NULL);
    ::CreateDirectoryA((start + "\\AR").c_str(), NULL);
    ::CreateDirectoryA(targets.c_str(), NULL);
    ::DeleteFileA((start + "\\AR\\bench.dsm").c_str());
    if (!::CopyFileA(disassembler.c_str(), (start + "\\Korvane.dll").c_str(), FALSE)
        || !::CopyFileA(target.c_str(), (targets + "\\bench.exe").c_str(), FALSE)) {
        std::fprintf(stderr, "cannot set up %s from %s and %s\n", work.c_str(), disassembler.c_str(), target.c_str());
        return 1;
    }
    if (!RebaseTo400000(targets + "\\bench.exe")) {
        std::fprintf(stderr, "%s is no 32-bit PE file\n", target.c_str());
        return 1;
    }

    BenchUi ui;
    AfxSetUiSeam(&ui);
    ::SetCurrentDirectoryA(start.c_str());
    CTracerDlg dlg;
    if (!dlg.Create(IDD_KORVANE_DIALOG)) {
        std::fprintf(stderr, "cannot create the dialog\n");
        return 1;
    }
    dlg.m_strTargetName = "bench.exe";
    dlg.m_strTargetDir = targets.c_str();
    ::SetCurrentDirectoryA(targets.c_str());

    // Each part is measured in several rounds; the fastest round counts, as
    // the least disturbed by the other work on the machine.
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    const double never = 1e30;
    double batch = never, convertAndMaps = never, listStrings = never, listOthers = never, reuse = never;
    double convertInMemory = never, fillOnly = never, direct = never;
    size_t listingSize = 0;
    int points = 0, stringRows = 0, allRows = 0;
    auto keep = [](double& best, double t0) { best = std::min(best, Now() - t0); };
    for (int round = 0; round < rounds; ++round) {
        ::DeleteFileA((start + "\\AR\\bench.dsm").c_str());
        for (int id : {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP})
            ::CheckDlgButton(dlg.m_hWnd, id, BST_UNCHECKED);

        // 1. The batch: copy of the disassembler, disassembly into the AR folder.
        double t0 = Now();
        int opened = dlg.OpenListing(0);
        keep(batch, t0);
        dlg.CloseListing();
        if (opened != 2) {
            std::fprintf(stderr, "the listing was not generated (%d)\n", opened);
            return 1;
        }
        std::vector<char> raw = ReadAll(start + "\\AR\\bench.dsm");
        listingSize = raw.size();

        // 2. Map, convert and fill the maps (the listing is raw, so it is converted).
        t0 = Now();
        int loaded = dlg.LoadListing(1);
        keep(convertAndMaps, t0);
        if (loaded != 1) {
            std::fprintf(stderr, "the listing did not load\n");
            return 1;
        }
        points = dlg.m_mapAll.GetCount();

        // 3. The hit list: Str Data (ticked at start-up), then every kind.
        t0 = Now();
        dlg.SyncHitList();
        keep(listStrings, t0);
        stringRows = dlg.m_listHits.GetItemCount();
        for (int id : {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP})
            ::CheckDlgButton(dlg.m_hWnd, id, BST_CHECKED);
        t0 = Now();
        dlg.SyncHitList();
        keep(listOthers, t0);
        allRows = dlg.m_listHits.GetItemCount();
        dlg.CloseListing();

        // 4. Reuse: map and walk the converted file.
        t0 = Now();
        dlg.LoadListing(1);
        keep(reuse, t0);
        dlg.CloseListing();

        // Conversion and map filling apart, in memory: the conversion with its
        // map entries, then the same entries alone.
        CPointMaps convertMaps;
        t0 = Now();
        ConvertListing(raw.data(), static_cast<DWORD>(raw.size()), convertMaps);
        keep(convertInMemory, t0);
        std::vector<ListingRecord*> records;
        for (char* s = raw.data() + 1; s < raw.data() + raw.size(); s += static_cast<BYTE>(*s) + 1) {
            ListingRecord* record = reinterpret_cast<ListingRecord*>(s);
            if (record->kind != 0 && KindIndex(record->kind) >= 0)
                records.push_back(record);
        }
        CPointMaps fillMaps;
        t0 = Now();
        for (ListingRecord* record : records)
            fillMaps.EnterPoint(record);
        keep(fillOnly, t0);

        direct = std::min(direct, RunDisassemblerDirectly(disassembler, targets + "\\bench.exe", work + "\\direct.dsm"));
    }

    double first = batch + convertAndMaps + listStrings;
    double mapShare = convertInMemory > 0 ? fillOnly / convertInMemory : 0;
    std::printf("listing load of %s\n", target.c_str());
    std::printf("  listing %zu bytes, %d points, %d string rows, %d rows of every kind; fastest of %d rounds\n",
                listingSize, points, stringRows, allRows, rounds);
    std::printf("first load (attach to filled list), %.1f ms:\n", first);
    Line("disassembly batch (copy, cmd, disassembler)", batch, first);
    Line("  of it the disassembler run directly", direct, first);
    Line("map + conversion + map filling", convertAndMaps, first);
    Line("  of it conversion (estimated)", convertAndMaps * (1 - mapShare), first);
    Line("  of it map filling (estimated)", convertAndMaps * mapShare, first);
    Line("hit list, Str Data rows", listStrings, first);
    std::printf("further parts:\n");
    Line("hit list, the other four kinds added", listOthers, first);
    Line("second load (map + walk + map filling)", reuse, first);
    std::printf("in memory: conversion with map entries %.1f ms, map entries alone %.1f ms (%.0f%%)\n",
                convertInMemory, fillOnly, 100.0 * mapShare);
    std::printf("ratio batch / direct disassembler run: %.2f\n", direct > 0 ? batch / direct : 0.0);

    dlg.DestroyWindow();
    AfxSetUiSeam(NULL);
    return ui.boxes == 0 ? 0 : 1;
}
