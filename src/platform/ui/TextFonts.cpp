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

// At exit, with no text laid out any more: the fonts, the font map's caches and the font
// configuration go, when the load has finished. A load still going is left alone.
void releaseFontsAtExit() {
    FontLoad& load = fontLoad();
    std::lock_guard lock(load.mutex);
    if (!load.done)
        return;
    if (load.context)
        g_object_unref(std::exchange(load.context, nullptr));
    if (load.map)
        g_object_unref(std::exchange(load.map, nullptr));
    FcFini();
}

} // namespace

void startLoadingFonts() {
    FontLoad& load = fontLoad();
    {
        std::lock_guard lock(load.mutex);
        if (load.started)
            return;
        load.started = true;
    }
    std::atexit(releaseFontsAtExit);
    std::thread([&load] { loadFonts(load); }).detach();
}

PangoContext* textLayoutContext() {
    startLoadingFonts();
    FontLoad& load = fontLoad();
    std::unique_lock lock(load.mutex);
    load.loaded.wait(lock, [&load] { return load.done; });
    return load.context;
}

} // namespace platform
