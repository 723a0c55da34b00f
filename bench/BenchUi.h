// The window's boxes and file dialogs in the Win32 benchmarks: boxes are
// printed and answered No; every file dialog picks the one archive.
#pragma once

#include <cstdio>
#include <string>

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
