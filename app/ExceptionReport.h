// What the window shows of an exception in the debuggee: the status name of
// its code and the faulting thread's registers.
#pragma once

#include <windows.h>

#include "debugger/ExceptionName.h"
#include "framework/CString.h"

// The exception's name on the first line, then EAX to EFL, one a line, as
// eight upper-case hexadecimal digits. A missing register record shows zeros.
// The registers are the process's; where its image lies `shift` bytes from the
// listing's base, a last line names the faulting address as the listing has it.
CString FormatRegisterReport(DWORD code, const CONTEXT* context, DWORD shift = 0, DWORD listingAddress = 0);
