// Where a skin picture lies: in the launcher's folder, under its bare file name.
#pragma once

// buffer = the launcher path cut at its last separator, then "\" and the file name. A launcher path without
// a separator stays whole. False, with the buffer's content unspecified, when a text is missing or the
// path would not fit into `capacity` bytes.
bool BuildSkinPath(char *buffer, unsigned capacity, const char *launcherPath, const char *fileName);
