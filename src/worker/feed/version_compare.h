#pragma once

// Compares an installed version with an announced one. Negative: the installed version is older and the
// update goes ahead; zero or positive: it is current. Only the sign has a meaning.
int CompareVersions(const char *installed, const char *announced);
