#include "framework/UiSeam.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/CWinApp.h"
#include "framework/CWnd.h"

static IUiSeam* g_pSeam = nullptr;

IUiSeam* AfxSetUiSeam(IUiSeam* seam)
{
    IUiSeam* previous = g_pSeam;
    g_pSeam = seam;
    return previous;
}

int AfxShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (g_pSeam != nullptr)
        return g_pSeam->MessageBox(owner, text, caption, type);
    return ::MessageBoxA(owner, text, caption, type);
}

namespace {

std::wstring Wide(const char* text, size_t length)
{
    if (text == NULL || length == 0)
        return std::wstring();
    int n = ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), NULL, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &wide[0], n);
    return wide;
}

// The path in the code page, exactly, or FALSE.
BOOL Narrow(const std::wstring& wide, std::string& text)
{
    // UTF-8 spells everything, and takes neither flag nor lost-character report.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lost = FALSE;
    int n = ::WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, NULL, 0, NULL, utf8 ? NULL : &lost);
    text.assign(static_cast<size_t>(n > 0 ? n : 1), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, flags, wide.c_str(), -1, &text[0], n, NULL, utf8 ? NULL : &lost);
    text.resize(std::strlen(text.c_str()));
    return n > 0 && !lost;
}

} // namespace

std::string AfxCodePagePath(const std::wstring& path)
{
    std::string text;
    if (Narrow(path, text))
        return text;
    std::string shortText;
    wchar_t shortPath[MAX_PATH];
    DWORD n = ::GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH && Narrow(shortPath, shortText))
        return shortText;
    size_t slash = path.rfind(L'\\');
    std::string name;
    if (slash != std::wstring::npos && Narrow(path.substr(slash), name)) {
        n = ::GetShortPathNameW(path.substr(0, slash).c_str(), shortPath, MAX_PATH);
        if (n > 0 && n < MAX_PATH && Narrow(shortPath, shortText))
            return shortText + name;
    }
    return text.empty() ? std::string("?") : text;
}

namespace {

// The system's dialog in its wide form, so that the chosen path is had whole.
BOOL ShowWideFileDialog(BOOL open, OPENFILENAMEA& ofn)
{
    size_t filterLength = 0;
    if (ofn.lpstrFilter != NULL)
        while (ofn.lpstrFilter[filterLength] != '\0' || ofn.lpstrFilter[filterLength + 1] != '\0')
            ++filterLength;
    std::wstring filter = Wide(ofn.lpstrFilter, filterLength + 2);
    std::wstring title = ofn.lpstrTitle ? Wide(ofn.lpstrTitle, std::strlen(ofn.lpstrTitle)) : std::wstring();
    std::wstring defExt = ofn.lpstrDefExt ? Wide(ofn.lpstrDefExt, std::strlen(ofn.lpstrDefExt)) : std::wstring();
    std::wstring initialDir =
        ofn.lpstrInitialDir ? Wide(ofn.lpstrInitialDir, std::strlen(ofn.lpstrInitialDir)) : std::wstring();
    std::wstring file = Wide(ofn.lpstrFile, std::strlen(ofn.lpstrFile));
    file.resize(std::max<size_t>(ofn.nMaxFile, MAX_PATH) * 2, L'\0');

    OPENFILENAMEW wide = {};
    wide.lStructSize = sizeof wide;
    wide.hwndOwner = ofn.hwndOwner;
    wide.lpstrFilter = ofn.lpstrFilter ? filter.c_str() : NULL;
    wide.nFilterIndex = ofn.nFilterIndex;
    wide.lpstrFile = &file[0];
    wide.nMaxFile = static_cast<DWORD>(file.size());
    wide.lpstrTitle = ofn.lpstrTitle ? title.c_str() : NULL;
    wide.lpstrDefExt = ofn.lpstrDefExt ? defExt.c_str() : NULL;
    wide.lpstrInitialDir = ofn.lpstrInitialDir ? initialDir.c_str() : NULL;
    wide.Flags = ofn.Flags;
    if (!(open ? ::GetOpenFileNameW(&wide) : ::GetSaveFileNameW(&wide)))
        return FALSE;
    std::string path = AfxCodePagePath(wide.lpstrFile);
    if (path.size() >= ofn.nMaxFile)
        return FALSE;
    std::memcpy(ofn.lpstrFile, path.c_str(), path.size() + 1);
    ofn.nFilterIndex = wide.nFilterIndex;
    return TRUE;
}

} // namespace

BOOL AfxShowFileDialog(BOOL open, OPENFILENAMEA& ofn)
{
    if (g_pSeam != nullptr)
        return g_pSeam->FileDialog(open, ofn);
    return ShowWideFileDialog(open, ofn);
}

int AfxMessageBox(LPCSTR text, UINT nType, UINT /*nIDHelp*/)
{
    if ((nType & MB_ICONMASK) == 0) {
        switch (nType & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            nType |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            nType |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    CWnd* main = AfxGetMainWnd();
    return AfxShowMessageBox(main ? main->m_hWnd : NULL, text, AfxGetAppName(), nType);
}
