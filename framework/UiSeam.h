// The one seam through which every modal box of the program passes: message
// boxes (CWnd::MessageBox, AfxMessageBox, AfxShowMessageBox) and file dialogs
// (CFileDialog::DoModal). With no seam installed the real Win32 boxes are shown.
//
// A test installs its own IUiSeam (AfxSetUiSeam) that records each request and
// answers it at once, so no test ever blocks on a modal box:
//   - MessageBox gets the owner, text, caption and style (MB_ flags) exactly as
//     the program passes them and returns the button id (IDOK, IDYES, IDNO, ...).
//   - FileDialog gets open (TRUE) or save (FALSE) and the OPENFILENAMEA the
//     program filled in: lpstrTitle, lpstrFilter (zero-separated pairs ending
//     in two zeros), Flags and lpstrFile (holding the proposed file name). To
//     choose a file it copies the full path into lpstrFile (at most nMaxFile
//     characters with the zero) and returns TRUE; to cancel it returns FALSE.
// Boxes may come from any thread (the debug thread's launch error): a recording
// seam must lock its own record. tests/app/DialogFixture.h has such a seam.
#pragma once

#include <windows.h>

#include <string>
#include <commdlg.h>

class IUiSeam {
public:
    virtual ~IUiSeam() = default;
    virtual int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = 0;
    virtual BOOL FileDialog(BOOL open, OPENFILENAMEA& ofn) = 0;
};

// Installs the seam (NULL: the real boxes again); returns the previous one.
IUiSeam* AfxSetUiSeam(IUiSeam* seam);

// MessageBoxA through the seam. Code that would call MessageBoxA calls this.
int AfxShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// The open or save dialog through the seam; TRUE when a file was chosen. The
// system's dialog is shown in its wide form, and the path handed back is one
// the code page can spell (AfxCodePagePath).
BOOL AfxShowFileDialog(BOOL open, OPENFILENAMEA& ofn);
// A path in the code page: as it is where the code page spells it; else its
// short (8.3) form where the volume keeps short names (for a file still to be
// made, its folder's short form and its own name); else with a '?', which no
// file name holds, for each character lost.
std::string AfxCodePagePath(const std::wstring& path);

// The framework's message box: owned by the main window, the application's
// title (AfxGetAppName) as caption. A box without an icon flag gets
// MB_ICONEXCLAMATION for MB_OK and MB_OKCANCEL, MB_ICONQUESTION for MB_YESNO
// and MB_YESNOCANCEL. Returns the button id.
int AfxMessageBox(LPCSTR text, UINT nType = MB_OK, UINT nIDHelp = 0);
