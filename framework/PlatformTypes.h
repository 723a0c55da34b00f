// The Win32 base types, so that code which needs no Win32 also builds natively.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef void* HANDLE;
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// The 32-bit x86 register record, with the registers the tracer reads and writes.
#define CONTEXT_FULL 0x10007
struct CONTEXT {
    DWORD ContextFlags;
    DWORD Edi, Esi, Ebx, Edx, Ecx, Eax;
    DWORD Ebp, Eip, SegCs, EFlags, Esp, SegSs;
};
#endif

// The framework's opaque enumeration cursor.
struct __POSITION {};
typedef __POSITION* POSITION;
