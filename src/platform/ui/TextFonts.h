#pragma once
// The fonts text is laid out with: the text layout library's font map and the one context
// every text is laid out in, loaded once per process.
//
// Loading reads the font configuration (tens of files) and the font caches and opens the first
// face, which takes tens of milliseconds. startLoadingFonts() does that on a thread of its own
// and returns at once, so a program that calls it first thing finds the fonts ready by the time
// it lays out its first text; textLayoutContext() waits for the load (starting it when nobody
// has) and answers the context.
//
// The loading thread initialises the font configuration itself before the text library is
// made to touch it, and hands the font map over under a lock: no two threads ever initialise
// the configuration at once, and every later use sees it whole. The font map is released at
// the process's exit when the load has finished; a load still going at exit is left to the end
// of the process, never waited for. The font configuration stays to the end of the process.
typedef struct _PangoContext PangoContext;

namespace platform {

// Starts loading the fonts, unless they are loaded or loading. Any thread; returns at once.
void startLoadingFonts();

// The context every text is laid out in: metrics unhinted and glyph positions unrounded, so
// that a text measures the same wherever it is painted and whatever the scale. Waits for the
// fonts to be loaded. Main thread only.
PangoContext* textLayoutContext();

} // namespace platform
