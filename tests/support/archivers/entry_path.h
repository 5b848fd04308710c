// Turns an entry name into a path relative to the destination folder, refusing any that would leave it.
#pragma once
#include <string>

// "/" becomes "\", empty and "." components are dropped. False for an absolute name ("/x", "\x"), a drive
// ("C:"), any other colon (a stream name) and a ".." component. The result may be empty (the destination).
bool SafeRelativePath(const std::wstring &name, std::wstring &relative);
