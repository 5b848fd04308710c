// The publisher's keys as the launcher carries them.
#pragma once
#include "publisher_keys.h"

// Reads the key block from the launcher file; an empty block means no keys. False when the launcher or its
// block cannot be found or read: whether keys exist is then unknown, and the caller must not go on unsigned.
bool LoadPublisherKeys(const char *launcherPath, PublisherKeys *keys);
