// The window's boxes and file dialogs in the Win32 benchmarks: boxes are
// printed and answered No; every file dialog picks the one archive. And the
// counts of a run that reached every point.
#pragma once

#include <cstdio>
#include <string>

#include "app/TracerDlg.h"
#include "framework/UiSeam.h"

class BenchUi : public IUiSeam {
public:
    int MessageBox(HWND, LPCSTR text, LPCSTR caption, UINT) override
    {
        std::fprintf(stderr, "box [%s]: %s\n", caption, text);
        ++boxes;
        return IDNO;
    }
    BOOL FileDialog(BOOL, OPENFILENAMEA& ofn) override
    {
        lstrcpynA(ofn.lpstrFile, archive.c_str(), static_cast<int>(ofn.nMaxFile));
        return TRUE;
    }
    std::string archive;
    int boxes = 0;
};

// A run that reached every point; Comp as a compare run leaves it, or 0.
inline void CountEveryPoint(CTracerDlg& dlg, bool compared)
{
    LONG n = 0;
    for (POSITION pos = dlg.m_mapAll.GetStartPosition(); pos != NULL;) {
        void *key, *value;
        dlg.m_mapAll.GetNextAssoc(pos, key, value);
        ListingRecord* record = static_cast<ListingRecord*>(value);
        record->num = ++n;
        record->hits = n % 13 + 1;
        record->comp = compared ? n % 5 : 0;
        record->savedByte = 0x90;
    }
}
