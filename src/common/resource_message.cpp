// Message boxes built from string resources, for both executables.
#include "resource_message.h"
#include "text_buffer.h"

static const char FALLBACK_TEXT[] = "An error occurred.";

int ShowModuleMessage(HINSTANCE module, HWND owner, UINT textId, UINT fallbackTextId, UINT captionId, UINT style)
{
    TextBuffer message = {};
    TextBuffer caption = {};
    if (!message.LoadResourceString(module, textId) &&
        !(fallbackTextId && message.LoadResourceString(module, fallbackTextId)))
        message.Assign(FALLBACK_TEXT);
    // A missing caption leaves the platform's default caption.
    caption.LoadResourceString(module, captionId);
    int answer = MessageBoxA(owner, message.text ? message.text : FALLBACK_TEXT,
                             caption.text && caption.text[0] ? caption.text : 0, style);
    message.Free();
    caption.Free();
    return answer;
}

int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style)
{
    return ShowModuleMessage(GetModuleHandleA(0), owner, textId, 0, captionId, style);
}
