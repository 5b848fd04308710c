// The settings file next to the launcher: the launcher's path with its extension replaced by ".ini".
#include <windows.h>
#include "../run/worker_command_line.h"
#include "../run/worker_settings.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"

// Colour texts are read into 11 bytes: a longer value is cut after its tenth character.
static const DWORD COLOR_TEXT_SIZE = 11;

static void ReadColor(const char *file, const char *section, const char *key, unsigned *field)
{
    char text[COLOR_TEXT_SIZE];
    if (GetPrivateProfileStringA(section, key, "", text, COLOR_TEXT_SIZE, file) > 0 && HasColorValue(text))
        *field = ParseColor(text);
}

// The last '.' of the launcher's file name (not of a folder), stepping over double-byte characters.
static int ExtensionDot(const char *path)
{
    const char *separator = FindLastSeparator(path);
    int start = separator ? static_cast<int>(separator - path) + 1 : 0;
    int dot = -1;
    for (int i = start; path[i];) {
        if (path[i] == '.')
            dot = i;
        i += IsLeadByte(static_cast<unsigned char>(path[i])) && path[i + 1] ? 2 : 1;
    }
    return dot;
}

void LoadSettings()
{
    workerSettings.colorBkgnd = GetSysColor(COLOR_BTNFACE);
    workerSettings.colorInfoText = GetSysColor(COLOR_WINDOWTEXT);
    workerSettings.colorInfoBkgnd = GetSysColor(COLOR_WINDOW);
    workerSettings.colorAniBkgnd = NO_COLOR;
    workerSettings.colorBtnText = GetSysColor(COLOR_WINDOWTEXT);
    workerSettings.colorRebootText = GetSysColor(COLOR_BTNTEXT);
    workerSettings.colorRebootBkgnd = NO_COLOR;

    char file[MAX_PATH];
    const char *launcher = workerArgs.launcherPath;
    if (!launcher || !CopyText(file, MAX_PATH, launcher))
        return;
    int dot = ExtensionDot(file);
    if (dot < 0)
        return;
    file[dot] = 0;
    if (!AppendText(file, MAX_PATH, ".ini"))
        return;

    ReadColor(file, "DRAWCOLOR", "BKGND", &workerSettings.colorBkgnd);
    ReadColor(file, "DRAWCOLOR", "INFOTEXT", &workerSettings.colorInfoText);
    ReadColor(file, "DRAWCOLOR", "INFOBKGND", &workerSettings.colorInfoBkgnd);
    ReadColor(file, "DRAWCOLOR", "ANIBKGND", &workerSettings.colorAniBkgnd);
    ReadColor(file, "DRAWCOLOR", "BTNTEXT", &workerSettings.colorBtnText);
    ReadColor(file, "DRAWCOLOR", "REBOOTTEXT", &workerSettings.colorRebootText);
    ReadColor(file, "DRAWCOLOR", "REBOOTBKGND", &workerSettings.colorRebootBkgnd);
    workerSettings.animationInterval = GetPrivateProfileIntA("ANIMATION", "INTERVAL", 256, file);
    ReadColor(file, "ANIMATION", "TRANSCOLOR", &workerSettings.transColor);
}
