// The common open / save file dialog, shown through the UI seam
// (framework/UiSeam.h), so that tests answer it without a window.
//
// m_ofn is the OPENFILENAMEA handed to the system; callers may set its
// lpstrTitle, lpstrFilter ("description\0pattern\0\0"), nFilterIndex, Flags
// and lpstrFile / nMaxFile (a buffer of their own, such as g_szFileName)
// before DoModal. The framework's own flag is OFN_EXPLORER.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "framework/CString.h"

class CWnd;

class CFileDialog {
public:
    // lpszFilter may separate its parts with '|' ("Text (*.txt)|*.txt||").
    explicit CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt = NULL, LPCSTR lpszFileName = NULL,
                         DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                         LPCSTR lpszFilter = NULL, CWnd* pParentWnd = NULL);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when a file was chosen (its full path is in m_ofn.lpstrFile), else IDCANCEL.
    INT_PTR DoModal();
    // The chosen file's full path, and its name without the directory.
    CString GetPathName() const;
    CString GetFileName() const;

    OPENFILENAMEA m_ofn;

private:
    BOOL m_bOpenFileDialog;
    char m_szFileName[MAX_PATH] = {};
    CString m_strFilter;
    CString m_strDefExt;
};
