// Files moved into the application folder keep the permissions they were created with, where copied files
// take the folder's. The folder the update is unpacked into is therefore given the application folder's
// permissions before anything is unpacked there: its files then carry what the application folder would give
// them, and moving them loses nothing.
#pragma once

// Gives `folder` (ending in a backslash) the permissions of `model`, as its own (not inherited from its
// parent). False when the permissions could not be read or set, or would keep this user from writing the
// folder: then the folder is as it was, and the unpacked files must be copied, not moved.
bool TakeFolderPermissions(const char *folder, const char *model);
