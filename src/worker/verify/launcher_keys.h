// The publisher's keys as the launcher carries them.
#pragma once
#include "publisher_keys.h"

// Reads the key block from the launcher file. A launcher without a block has no keys. False when the
// launcher cannot be read at all: whether keys exist is then unknown, and the caller must not go on
// unsigned.
bool LoadPublisherKeys(const char *launcherPath, PublisherKeys *keys);
