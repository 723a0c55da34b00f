// The status names of exception codes, as the exception boxes show them.
#pragma once

#include "framework/CString.h"
#include "framework/PlatformTypes.h"

// The status name of an exception code ("STATUS_ACCESS_VIOLATION"), or the
// empty text for a code without one. The debug loop reports only named codes.
CString ExceptionName(DWORD code);
