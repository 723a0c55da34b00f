#include "debugger/ExceptionReport.h"

CString FormatRegisterReport(DWORD code, const CONTEXT* context, DWORD shift, DWORD listingAddress)
{
    CONTEXT none = {};
    const CONTEXT& c = context != NULL ? *context : none;
    CString text;
    text.Format("%s\nEAX = %.8X\nEBX = %.8X\nECX = %.8X\nEDX = %.8X\nESI  = %.8X\nEDI  = %.8X\nEIP  = %.8X\n"
                "ESP = %.8X\nEBP = %.8X\nEFL = %.8X",
                ExceptionName(code).GetString(), static_cast<unsigned>(c.Eax), static_cast<unsigned>(c.Ebx),
                static_cast<unsigned>(c.Ecx), static_cast<unsigned>(c.Edx), static_cast<unsigned>(c.Esi),
                static_cast<unsigned>(c.Edi), static_cast<unsigned>(c.Eip), static_cast<unsigned>(c.Esp),
                static_cast<unsigned>(c.Ebp), static_cast<unsigned>(c.EFlags));
    if (shift != 0) {
        CString listed;
        listed.Format("\nListing address = %.8X", static_cast<unsigned>(listingAddress));
        text += listed;
    }
    return text;
}

CString FormatListingOutside(const CString& strTargetName)
{
    CString text;
    text.Format("[ %s ]\n  No address of the listing lies in the program: nothing could be traced !",
                strTargetName.GetString());
    return text;
}

CString FormatUnrewound(DWORD dwThreadId, DWORD dwAddress)
{
    CString text;
    text.Format("Thread %lu could not be rewound after its breakpoint at %08lX: its registers could not be "
                "read.\nThe process was ended, since that thread could not go on correctly.",
                static_cast<unsigned long>(dwThreadId), static_cast<unsigned long>(dwAddress));
    return text;
}
