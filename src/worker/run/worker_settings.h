// The worker's process-wide settings record: the option flags of the command line, and the display
// settings of the update dialog, read from the settings file next to the launcher.
#pragma once

#define OPT_BACKUP 0x1u
#define OPT_SILENT 0x2u
#define OPT_RESTART 0x4u
#define OPT_CHECK 0x8u
#define OPT_CAPTION 0x10000u
#define OPT_DEFAULTS (OPT_BACKUP | OPT_CAPTION)

// A colour that is not set: the area is not filled (or takes its fallback).
#define NO_COLOR 0xFF000000u
// transColor only: the animation pictures have no transparent colour.
#define NO_TRANSPARENCY 0x80000000u
// Added to a skin colour when it is handed to the drawing calls.
#define SKIN_COLOR_FLAG 0x20000000u

struct WorkerSettings {
    unsigned options;
    // Colours are colour references, red in the low byte (0x00BBGGRR).
    unsigned colorBkgnd;
    unsigned colorInfoText;
    unsigned colorInfoBkgnd;
    unsigned colorAniBkgnd;
    unsigned colorBtnText;
    unsigned colorRebootText;
    unsigned colorRebootBkgnd;
    unsigned animationInterval; // milliseconds
    unsigned transColor;
};

extern WorkerSettings workerSettings;

// Reads the settings file named after the launcher (its extension replaced by ".ini"): section DRAWCOLOR
// for the colours, ANIMATION for INTERVAL and TRANSCOLOR. Missing keys keep their defaults.
void LoadSettings();

// A colour text: an optional "0x" or "#" prefix, then hexadecimal digits, used as the colour value as is.
// The value ends at the first blank, tab or ';'.
unsigned ParseColor(const char *text);

// False when the text holds no value before the first blank, tab or ';' (empty, or only a comment): the
// setting then keeps its default.
bool HasColorValue(const char *text);
