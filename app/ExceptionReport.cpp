#include "app/ExceptionReport.h"

CString ExceptionName(DWORD code)
{
    static const struct {
        DWORD code;
        const char* name;
    } names[] = {
        {0x00000000, "STATUS_WAIT_0"},
        {0x00000080, "STATUS_ABANDONED_WAIT_0"},
        {0x000000C0, "STATUS_USER_APC"},
        {0x00000102, "STATUS_TIMEOUT"},
        {0x00000103, "STATUS_PENDING"},
        {0x40000005, "STATUS_SEGMENT_NOTIFICATION"},
        {0x80000001, "STATUS_GUARD_PAGE_VIOLATION"},
        {0x80000002, "STATUS_DATATYPE_MISALIGNMENT"},
        {0x80000003, "STATUS_BREAKPOINT"},
        {0x80000004, "STATUS_SINGLE_STEP"},
        {0xC0000005, "STATUS_ACCESS_VIOLATION"},
        {0xC0000006, "STATUS_IN_PAGE_ERROR"},
        {0xC0000008, "STATUS_INVALID_HANDLE"},
        {0xC0000017, "STATUS_NO_MEMORY"},
        {0xC000001D, "STATUS_ILLEGAL_INSTRUCTION"},
        {0xC0000025, "STATUS_NONCONTINUABLE_EXCEPTION"},
        {0xC0000026, "STATUS_INVALID_DISPOSITION"},
        {0xC000008C, "STATUS_ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008D, "STATUS_FLOAT_DENORMAL_OPERAND"},
        {0xC000008E, "STATUS_FLOAT_DIVIDE_BY_ZERO"},
        {0xC000008F, "STATUS_FLOAT_INEXACT_RESULT"},
        {0xC0000090, "STATUS_FLOAT_INVALID_OPERATION"},
        {0xC0000091, "STATUS_FLOAT_OVERFLOW"},
        {0xC0000092, "STATUS_FLOAT_STACK_CHECK"},
        {0xC0000093, "STATUS_FLOAT_UNDERFLOW"},
        {0xC0000094, "STATUS_INTEGER_DIVIDE_BY_ZERO"},
        {0xC0000095, "STATUS_INTEGER_OVERFLOW"},
        {0xC0000096, "STATUS_PRIVILEGED_INSTRUCTION"},
        {0xC00000FD, "STATUS_STACK_OVERFLOW"},
        {0xC000013A, "STATUS_CONTROL_C_EXIT"},
        {0xC00002B4, "STATUS_FLOAT_MULTIPLE_FAULTS"},
        {0xC00002B5, "STATUS_FLOAT_MULTIPLE_TRAPS"},
        {0xC00002C0, "STATUS_ILLEGAL_VLM_REFERENCE"},
    };
    for (const auto& entry : names)
        if (entry.code == code)
            return CString(entry.name);
    return CString();
}

CString FormatRegisterReport(DWORD code, const CONTEXT* context)
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
    return text;
}
