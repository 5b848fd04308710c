// A message box with one inserted text. The text is spliced in by hand rather than with wsprintfA, which
// stops at 1024 bytes. '%' is never the second byte of a double-byte character, so the search is safe.
#include "formatted_message.h"
#include "on_demand.h"
#include "resource_message.h"
#include "text.h"
#include "text_buffer.h"

int ShowFormattedMessage(HINSTANCE module, HWND owner, UINT textId, UINT captionId, const char *insert, UINT style)
{
    TextBuffer format = {};
    TextBuffer caption = {};
    TextBuffer message = {};
    if (!insert)
        insert = "";
    if (!format.LoadResourceString(module, textId))
        format.Assign(insert);
    const char *text = format.text ? format.text : "";
    unsigned at = 0;
    while (text[at] && !(text[at] == '%' && text[at + 1] == 's'))
        at++;
    unsigned length = TextLength(text) + TextLength(insert) + 1;
    if (message.Reserve(length)) {
        CopyBytes(message.text, text, at);
        message.text[at] = 0;
        if (text[at]) {
            AppendText(message.text, length, insert);
            AppendText(message.text, length, text + at + 2);
        }
    }
    int answer = ShowMessageBox(owner, message.text ? message.text : text,
                             MessageCaption(module, captionId, caption), style);
    format.Free();
    caption.Free();
    message.Free();
    return answer;
}
