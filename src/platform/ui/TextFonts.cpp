#include "platform/ui/TextFonts.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {
namespace {

// What the loading thread lays out once so that the first face is open and the font caches
// hold it before the first real text: the plain face at an everyday size.
constexpr const char* kWarmUpFont = "sans-serif 17";
constexpr const char* kWarmUpText = "Documents";

struct FontLoad {
    std::mutex mutex;
    std::condition_variable loaded;
    bool started = false;
    bool done = false;
    PangoFontMap* map = nullptr;
    PangoContext* context = nullptr;
    std::thread loader;
};

// Never destroyed: the loading thread may still be at work while the process exits.
FontLoad& fontLoad() {
    static FontLoad* const load = new FontLoad;
    return *load;
}

// Runs on the loading thread. The configuration is loaded here, before the font map exists:
// the text library would otherwise load it on a thread of its own and hand it over with a lock
// that sanitizers cannot see. By the time the warm-up text is laid out, the library has also
// seen the configuration loaded, so nothing of the library's own loading is left running.
void loadFonts(FontLoad& load) {
    FcInit();
    PangoFontMap* map = pango_cairo_font_map_new();
    PangoContext* context = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);

    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* description = pango_font_description_from_string(kWarmUpFont);
    pango_layout_set_font_description(layout, description);
    pango_layout_set_text(layout, kWarmUpText, -1);
    pango_layout_get_line_count(layout);
    pango_font_description_free(description);
    g_object_unref(layout);

    std::lock_guard lock(load.mutex);
    load.map = map;
    load.context = context;
    load.done = true;
    load.loaded.notify_all();
}

// At exit, with no text laid out any more: the context and the font map with its caches go,
// when the load has finished (a load still going is left alone). The loading thread is joined
// first, so nothing of it runs on while they go.
//
// The font configuration itself stays to the end of the process. Releasing it (FcFini) at exit
// aborted now and then inside the font library (a cache still referenced, under load), and the
// library allows it only when no other part of the process can still hold any of its data. The
// leak checker is told instead that what the font library keeps is the process's own to the
// end (__lsan_default_suppressions below).
void releaseFontsAtExit() {
    FontLoad& load = fontLoad();
    std::unique_lock lock(load.mutex);
    if (!load.done || !load.loader.joinable())
        return;
    lock.unlock();
    load.loader.join(); // its work is done: this waits only for the thread's own end
    lock.lock();
    if (load.context)
        g_object_unref(std::exchange(load.context, nullptr));
    if (load.map)
        g_object_unref(std::exchange(load.map, nullptr));
}

} // namespace

void startLoadingFonts() {
    FontLoad& load = fontLoad();
    std::lock_guard lock(load.mutex);
    if (load.started)
        return;
    load.started = true;
    std::atexit(releaseFontsAtExit);
    // Kept, never detached, so that the exit can wait for its end (see releaseFontsAtExit);
    // the state it lives in is never destroyed, so a thread still loading at exit is no fault.
    load.loader = std::thread([&load] { loadFonts(load); });
}

PangoContext* textLayoutContext() {
    startLoadingFonts();
    FontLoad& load = fontLoad();
    std::unique_lock lock(load.mutex);
    load.loaded.wait(lock, [&load] { return load.done; });
    return load.context;
}

} // namespace platform

// Read by the leak checker of sanitizer builds (and unused otherwise): the font library's
// configuration and caches, kept for the whole process, are not leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so.1\n";
}
