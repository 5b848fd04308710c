// Message boxes built from string resources, for both executables.
#include "resource_message.h"
#include "on_demand.h"
#include "text_buffer.h"

static const char FALLBACK_TEXT[] = "An error occurred.";
static const char *captionOverride;

void SetMessageCaption(const char *caption)
{
    captionOverride = caption && caption[0] ? caption : 0;
}

const char *MessageCaption(HINSTANCE module, UINT captionId, TextBuffer &loaded)
{
    if (captionOverride)
        return captionOverride;
    loaded.LoadResourceString(module, captionId);
    return loaded.text && loaded.text[0] ? loaded.text : 0;
}

int ShowModuleMessage(HINSTANCE module, HWND owner, UINT textId, UINT fallbackTextId, UINT captionId, UINT style)
{
    TextBuffer message = {};
    TextBuffer caption = {};
    if (!message.LoadResourceString(module, textId) &&
        !(fallbackTextId && message.LoadResourceString(module, fallbackTextId)))
        message.Assign(FALLBACK_TEXT);
    // A missing caption leaves the platform's default caption.
    int answer = ShowMessageBox(owner, message.text ? message.text : FALLBACK_TEXT,
                             MessageCaption(module, captionId, caption), style);
    message.Free();
    caption.Free();
    return answer;
}

int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style)
{
    return ShowModuleMessage(GetModuleHandleA(0), owner, textId, 0, captionId, style);
}
