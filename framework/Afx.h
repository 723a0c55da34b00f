// The application framework stand-in: thin classes over plain Win32 with the
// names and the behaviour the program relies on.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include "framework/CArchive.h"
#include "framework/CButton.h"
#include "framework/CDataExchange.h"
#include "framework/CDialog.h"
#include "framework/CEdit.h"
#include "framework/CException.h"
#include "framework/CFile.h"
#include "framework/CFileDialog.h"
#include "framework/CListCtrl.h"
#include "framework/CMapPtrToPtr.h"
#include "framework/CPaintDC.h"
#include "framework/CString.h"
#include "framework/CWinApp.h"
#include "framework/CWinThread.h"
#include "framework/CWnd.h"
#include "framework/MessageMap.h"
#include "framework/UiSeam.h"
