// Writing an archive without ever leaving a half-written one in its place:
// the window's "Save Archive" and korvane-trace both write this way. Win32 only.
#pragma once

#include <windows.h>

#include "framework/CFile.h"
#include "framework/CString.h"

// The new archive is written beside the chosen file and takes its place only
// when complete; until then, and on any failure, that file stays as it was.
class CNewArchiveFile {
public:
    ~CNewArchiveFile()
    {
        m_file.Abort();
        if (!m_strPath.IsEmpty() && !m_bPlaced)
            ::DeleteFileA(m_strPath);
    }
    BOOL Create(const CString& finalPath)
    {
        int slash = finalPath.ReverseFind('\\');
        CString dir = slash >= 0 ? finalPath.Left(slash + 1) : CString(".");
        char path[MAX_PATH];
        if (!::GetTempFileNameA(dir, "kor", 0, path))
            return FALSE;
        m_strPath = path;
        if (!m_file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive))
            return FALSE;
        // A write error names the file the user chose.
        m_file.SetFilePath(finalPath);
        return TRUE;
    }
    // The written file, flushed and closed, takes the chosen file's place.
    BOOL Place(const CString& finalPath)
    {
        m_file.Flush();
        m_file.Close();
        m_bPlaced = ::MoveFileExA(m_strPath, finalPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        return m_bPlaced;
    }
    CFile m_file;

private:
    CString m_strPath;
    BOOL m_bPlaced = FALSE;
};
