// The worker's module instance: all its string resources and its dialog come from it. Recorded first thing
// by the worker's entry.
#pragma once
#include <windows.h>

extern HINSTANCE moduleInstance;
