// Stand-ins until the archive commands are built: each says plainly that it
// cannot do its work yet and returns 0, so that its callers change nothing.
// The save question of a reset still clears the trace afterwards, as it does
// when a save is cancelled. This file goes when the archive commands come.
#include "app/TracerDlg.h"

static int NotYet(CTracerDlg& dlg, const char* text)
{
    dlg.MessageBox(text, "Korvane", MB_ICONEXCLAMATION);
    return 0;
}

int CTracerDlg::SaveArchive()
{
    return NotYet(*this, "The archive was not saved: this build of Korvane cannot write archives yet.");
}

int CTracerDlg::LoadArchive()
{
    return NotYet(*this, "No archive was loaded: this build of Korvane cannot read archives yet.");
}

int CTracerDlg::RunArchive()
{
    return NotYet(*this, "No archive was replayed: this build of Korvane cannot read archives yet.");
}
