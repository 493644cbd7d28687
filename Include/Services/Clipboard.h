// The desktop clipboard's text.
//
// Linux has no clipboard without a display server, and the display servers
// give it through their own protocols; this host asks the standard helper
// programs instead: `wl-paste --no-newline --type text` when $WAYLAND_DISPLAY
// is set, then `xclip -selection clipboard -out` when $DISPLAY is set. Each is
// run directly (no shell), found on $PATH, with no input, its errors
// discarded, and a time limit of 2 seconds, after which it is killed: a
// clipboard owner that does not answer never hangs the caller. A helper that
// is missing, fails, times out, gives no text or more than 64 MiB counts as
// no text.
#pragma once

#include "YString.h"

// The clipboard's text in `text`; false when there is none (no display, no
// helper, an empty clipboard or one holding no text).
bool sp_PasteTextFromClipboard(YString& text);
