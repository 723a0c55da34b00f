// Finding, reusing or generating a target's listing (CTracerDlg::OpenListing,
// LoadListing, CloseListing are declared with the dialog).
//
// CloseListing releases everything that points into the mapped view, in the
// order that keeps the window safe: it empties the six point maps, closes the
// mapping and the file, deletes the hit list's rows (their text is read from
// the view) and clears m_pHitRecord, and only then unmaps the view. It may be
// called with no listing loaded, and more than once.
#pragma once

#include <windows.h>

// How long the listing batch may run before it is ended, in milliseconds
// (ten minutes). Tests shorten it to reach the time-out.
extern DWORD g_dwListingWaitMs;
