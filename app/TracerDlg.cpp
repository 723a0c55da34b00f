#include "app/TracerDlg.h"

#include <algorithm>
#include <cstring>

char g_szFileName[MAX_PATH];

BEGIN_MESSAGE_MAP(CTracerDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_MAIN_BUTTON, OnMainButton)
    ON_BN_CLICKED(IDC_CANCEL_BUTTON, OnCancelButton)
    ON_BN_CLICKED(IDC_ARCHIVE_BUTTON, OnArchiveButton)
    ON_BN_CLICKED(IDC_SAVE_BUTTON, OnSaveButton)
    ON_COMMAND(ID_DEBUG_REPORT, OnDebugReport)
    ON_WM_TIMER()
    ON_COMMAND(ID_DEBUG_END, OnDebugEnd)
    ON_BN_CLICKED(IDC_COMPARE_MODE, OnCompareMode)
    ON_BN_CLICKED(IDC_CREATE_MODE, OnCreateMode)
    ON_WM_CLOSE()
    ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_SPEED, OnSpeedReleased)
    ON_BN_CLICKED(IDC_SKIP_POINT, OnSkipPoint)
    // "Singl Step" (1011) and the five kind check boxes (1006 to 1010)
    ON_CONTROL_RANGE(BN_CLICKED, IDC_CALL_PTR, IDC_SINGLE_STEP, SyncHitList)
END_MESSAGE_MAP()

CTracerDlg::CTracerDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    m_hIcon = ::LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CTracerDlg::~CTracerDlg() = default;

void CTracerDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STR_DATA, m_chkStrData);
    DDX_Control(pDX, IDC_JMP, m_chkJmp);
    DDX_Control(pDX, IDC_JMP_PTR, m_chkJmpPtr);
    DDX_Control(pDX, IDC_CALL, m_chkCall);
    DDX_Control(pDX, IDC_CALL_PTR, m_chkCallPtr);
    DDX_Control(pDX, IDC_SKIP_POINT, m_btnSkipPoint);
    DDX_Control(pDX, IDC_COMMAND_LINE, m_editCommandLine);
    DDX_Control(pDX, IDC_CREATE_MODE, m_btnCreateMode);
    DDX_Control(pDX, IDC_SINGLE_STEP, m_chkSingleStep);
    DDX_Control(pDX, IDC_COMPARE_MODE, m_btnCompareMode);
    DDX_Control(pDX, IDC_HIT_LIST, m_listHits);
    DDX_Control(pDX, IDC_SAVE_BUTTON, m_btnSave);
    DDX_Control(pDX, IDC_ARCHIVE_BUTTON, m_btnArchive);
    DDX_Control(pDX, IDC_CANCEL_BUTTON, m_btnCancel);
    DDX_Control(pDX, IDC_MAIN_BUTTON, m_btnMain);
    DDX_Check(pDX, IDC_SINGLE_STEP, m_bSingleStep);
    DDX_Slider(pDX, IDC_SPEED, m_nSpeed);
    DDX_Text(pDX, IDC_COMMAND_LINE, m_strArguments);
    DDX_Check(pDX, IDC_CALL_PTR, m_bCallPtr);
    DDX_Check(pDX, IDC_CALL, m_bCall);
    DDX_Check(pDX, IDC_JMP_PTR, m_bJmpPtr);
    DDX_Check(pDX, IDC_JMP, m_bJmp);
    DDX_Check(pDX, IDC_STR_DATA, m_bStrData);
}

BOOL CTracerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    InitMainWindow();
    return TRUE;
}

BOOL CTracerDlg::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
    BOOL answered = header->idFrom == IDC_HIT_LIST && OnListNotify(header, pResult);
    return CDialog::OnNotify(wParam, lParam, pResult) || answered;
}

int CTracerDlg::InitMainWindow()
{
    // The start directory; the whole buffer, so that any path that fits is taken.
    ::GetCurrentDirectoryA(sizeof g_szFileName, g_szFileName);
    m_strArchiveDir.Format("%s\\AR\\", g_szFileName);
    g_szFileName[0] = 0;
    g_szFileName[1] = 0;
    // Without an AR folder the start directory stays current; the reset reports it.
    ::SetCurrentDirectoryA(m_strArchiveDir);
    m_hWndDlg = m_hWnd;

    // Each column is exactly as wide as its sample of zeros in the list's font.
    static const struct {
        const char* heading;
        const char* sample;
    } columns[] = {
        {"Num", "00000"},
        {"Hits", "0000"},
        {"Comp", "0000"},
        {"EIP", "00000000000"},
        {"Disasm", "0000000000000000000000000000000"},
    };
    for (int i = 0; i < 5; ++i)
        m_listHits.InsertColumn(i, columns[i].heading, LVCFMT_LEFT, m_listHits.GetStringWidth(columns[i].sample));

    SetButton(&m_chkSingleStep, FALSE, FALSE, NULL);
    m_btnSave.SetWindowText("Save Archive");
    SetButton(&m_btnSave, FALSE, FALSE, NULL);
    SetButton(&m_btnSkipPoint, FALSE, FALSE, NULL);
    SetMode(0, 0);
    UpdateCaptions("dialog");
    UpdateCaptions("mode");
    return 1;
}

int CTracerDlg::SetButton(CWnd* control, BOOL enable, BOOL focus, const char* caption)
{
    // By style, not EnableWindow: no WM_ENABLE; the repaint follows below and from RepaintAll.
    if (enable)
        control->ModifyStyle(WS_DISABLED, 0);
    else
        control->ModifyStyle(0, WS_DISABLED);
    if (focus)
        control->SetFocus();
    if (caption != NULL) {
        control->SetWindowText(caption);
    } else {
        CString text;
        control->GetWindowText(text);
        control->SetWindowText(text);
    }
    control->SendMessage(BM_SETSTATE, TRUE, 0);
    control->SendMessage(BM_SETSTATE, FALSE, 0);
    return 1;
}

int CTracerDlg::UpdateCaptions(const char* what)
{
    if (what == NULL)
        return 0;
    if (std::strcmp(what, "dialog") == 0) {
        CString title;
        title.Format("Korvane - %s      [ %s ]", m_strTargetName.GetString(), m_strArchiveName.GetString());
        SetWindowText(title);
        return 1;
    }
    if (std::strcmp(what, "mode") == 0) {
        if (m_bCompareMode) {
            m_btnMain.SetWindowText("Run File");
            m_btnCancel.SetWindowText("Remove All");
            SetButton(&m_btnCancel, TRUE, FALSE, NULL);
            m_btnArchive.SetWindowText("Run Archive");
        } else {
            m_btnMain.SetWindowText("Attach File");
            m_btnCancel.SetWindowText("Attach Process");
            SetButton(&m_btnCancel, FALSE, FALSE, NULL);
            m_btnArchive.SetWindowText("Load Archive");
        }
        return 1;
    }
    return 0;
}

int CTracerDlg::SetMode(BOOL compare, BOOL enable)
{
    if (enable) {
        m_btnCompareMode.ModifyStyle(WS_DISABLED, 0);
        m_btnCreateMode.ModifyStyle(WS_DISABLED, 0);
    } else {
        m_btnCompareMode.ModifyStyle(0, WS_DISABLED);
        m_btnCreateMode.ModifyStyle(0, WS_DISABLED);
    }
    m_bCompareMode = compare ? 1 : 0;
    m_btnCompareMode.SetCheck(m_bCompareMode);
    m_btnCreateMode.SetCheck(!m_bCompareMode);
    RepaintAll();
    return 1;
}

int CTracerDlg::RepaintAll()
{
    Invalidate(TRUE);
    CWnd* controls[] = {&m_btnMain, &m_btnCancel, &m_btnArchive, &m_btnSave,
                        &m_chkCallPtr, &m_chkCall, &m_chkJmpPtr, &m_chkJmp, &m_chkStrData,
                        &m_btnCompareMode, &m_btnCreateMode, &m_btnSkipPoint};
    for (CWnd* control : controls)
        control->Invalidate(TRUE);
    // The rows on screen: asking for every row of a long list (tens of
    // thousands) costs far more than the whole repaint, for the same picture.
    int top = m_listHits.GetTopIndex();
    m_listHits.RedrawItems(top, std::min(top + m_listHits.GetCountPerPage(), m_listHits.GetItemCount() - 1));
    m_listHits.Invalidate(TRUE);
    UpdateWindow();
    return 1;
}

void CTracerDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rect.bottom - rect.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CTracerDlg::OnQueryDragIcon()
{
    return reinterpret_cast<HCURSOR>(m_hIcon);
}
