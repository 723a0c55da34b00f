// An edit control; the program reads and writes only its text.
#pragma once

#include "framework/CWnd.h"

class CEdit : public CWnd {
};
