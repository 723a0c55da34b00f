// What a run's driver says of an exception in the debuggee and of a run that
// ended badly: the window in its boxes, a driver without one in its own way.
#pragma once

#include "debugger/ExceptionName.h"
#include "framework/CString.h"
#include "framework/PlatformTypes.h"

// The exception's name on the first line, then EAX to EFL, one a line, as
// eight upper-case hexadecimal digits. A missing register record shows zeros.
// The registers are the process's; where its image lies `shift` bytes from the
// listing's base, a last line names the faulting address as the listing has it.
CString FormatRegisterReport(DWORD code, const CONTEXT* context, DWORD shift = 0, DWORD listingAddress = 0);
// No address of the target's listing lay in its process: nothing was traced.
CString FormatListingOutside(const CString& strTargetName);
// A thread could not be put back onto its breakpoint, so the run was ended.
CString FormatUnrewound(DWORD dwThreadId, DWORD dwAddress);
