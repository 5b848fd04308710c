// The common controls (the dialog's progress bar), loaded from the system folder rather than imported, as
// WinINet is (download/wininet_library.h).
#pragma once

// Loads the library and registers its window classes; they must be there before the dialog is made.
bool LoadCommonControls();
