// What the window shows of an exception in the debuggee: the status name of
// its code and the faulting thread's registers.
#pragma once

#include <windows.h>

#include "debugger/ExceptionName.h"
#include "framework/CString.h"

// The exception's name on the first line, then EAX to EFL, one a line, as
// eight upper-case hexadecimal digits. A missing register record shows zeros.
CString FormatRegisterReport(DWORD code, const CONTEXT* context);
