// Declarative message tables: each window class lists which message, command
// id (or id range) and notification code goes to which member function.
//
//   // in the class:  DECLARE_MESSAGE_MAP()
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_WM_PAINT()
//       ON_BN_CLICKED(IDC_GO, OnGo)                 // void OnGo()
//       ON_COMMAND(ID_SOMETHING, OnSomething)       // void OnSomething(), WM_COMMAND code 0
//       ON_CONTROL_RANGE(BN_CLICKED, 1006, 1011, OnBox)  // void OnBox(), any id in the range
//       ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_SPEED, OnSpeed) // void OnSpeed(NMHDR*, LRESULT*)
//   END_MESSAGE_MAP()
//
// A table is searched from the first entry on, then the base class's table;
// the first match handles the message. Each entry carries a small thunk that
// calls the member function with the arguments unpacked from the message.
#pragma once

#include <windows.h>

class CWnd;

typedef LRESULT (*AFX_MSG_THUNK)(CWnd* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;   // 0 ends the table
    UINT nCode;      // WM_COMMAND and WM_NOTIFY: the notification code
    UINT nID;        // WM_COMMAND and WM_NOTIFY: first control id
    UINT nLastID;    // ... and last control id
    AFX_MSG_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                     \
public:                                                           \
    static const AFX_MSGMAP* GetThisMessageMap();                 \
    const AFX_MSGMAP* GetMessageMap() const override;             \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                  \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                             \
    {                                                                           \
        typedef theClass ThisClass;                                             \
        typedef baseClass TheBaseClass;                                         \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                       \
            { 0, 0, 0, 0, nullptr }                                             \
        };                                                                      \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, &_messageEntries[0] }; \
        return &messageMap;                                                     \
    }

// void OnPaint()
#define ON_WM_PAINT()                                                           \
    { WM_PAINT, 0, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {               \
        static_cast<ThisClass*>(w)->OnPaint(); return 0; } },

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                   \
    { WM_QUERYDRAGICON, 0, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {       \
        return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(w)->OnQueryDragIcon()); } },

// void OnClose()
#define ON_WM_CLOSE()                                                           \
    { WM_CLOSE, 0, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {               \
        static_cast<ThisClass*>(w)->OnClose(); return 0; } },

// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER()                                                           \
    { WM_TIMER, 0, 0, 0, [](CWnd* w, WPARAM wParam, LPARAM) -> LRESULT {        \
        static_cast<ThisClass*>(w)->OnTimer(static_cast<UINT_PTR>(wParam)); return 0; } },

// void memberFxn(), for a WM_COMMAND with the given notification code from control id
#define ON_CONTROL(code, id, memberFxn)                                         \
    { WM_COMMAND, (UINT)(code), (UINT)(id), (UINT)(id), [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
        static_cast<ThisClass*>(w)->memberFxn(); return 0; } },

// void memberFxn(), for any control id from first to last
#define ON_CONTROL_RANGE(code, first, last, memberFxn)                          \
    { WM_COMMAND, (UINT)(code), (UINT)(first), (UINT)(last), [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
        static_cast<ThisClass*>(w)->memberFxn(); return 0; } },

// void memberFxn(): a command (notification code 0), such as one posted with PostMessage
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)

#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

// void memberFxn(NMHDR* pNotifyStruct, LRESULT* pResult); *pResult starts at 0
#define ON_NOTIFY(code, id, memberFxn)                                          \
    { WM_NOTIFY, (UINT)(code), (UINT)(id), (UINT)(id), [](CWnd* w, WPARAM, LPARAM lParam) -> LRESULT { \
        LRESULT result = 0;                                                     \
        static_cast<ThisClass*>(w)->memberFxn(reinterpret_cast<NMHDR*>(lParam), &result); \
        return result; } },
