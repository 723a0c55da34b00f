#include "framework/CFileDialog.h"

#include <cstring>

#include "framework/CWnd.h"
#include "framework/UiSeam.h"

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt, LPCSTR lpszFileName, DWORD dwFlags,
                         LPCSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog)
{
    std::memset(&m_ofn, 0, sizeof m_ofn);
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.hwndOwner = pParentWnd ? pParentWnd->m_hWnd : NULL;
    m_ofn.Flags = dwFlags | OFN_EXPLORER;
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = MAX_PATH;
    if (lpszFileName != NULL) {
        std::strncpy(m_szFileName, lpszFileName, MAX_PATH - 1);
        m_szFileName[MAX_PATH - 1] = '\0';
    }
    if (lpszDefExt != NULL) {
        m_strDefExt = lpszDefExt;
        m_ofn.lpstrDefExt = m_strDefExt;
    }
    if (lpszFilter != NULL) {
        // "a|b|c|d||" -> "a\0b\0c\0d\0\0"
        std::string filter(lpszFilter);
        for (char& c : filter)
            if (c == '|')
                c = '\0';
        filter += '\0';
        m_strFilter = CString(filter);
        m_ofn.lpstrFilter = m_strFilter;
    }
}

INT_PTR CFileDialog::DoModal()
{
    return AfxShowFileDialog(m_bOpenFileDialog, m_ofn) ? IDOK : IDCANCEL;
}

CString CFileDialog::GetPathName() const
{
    return CString(m_ofn.lpstrFile);
}

CString CFileDialog::GetFileName() const
{
    const char* path = m_ofn.lpstrFile;
    const char* name = std::strrchr(path, '\\');
    return CString(name ? name + 1 : path);
}
