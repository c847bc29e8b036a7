/* KUV's own visualisation plug-in: a small window of its own drawing the
 * spectrum kuv hands over, left channel on top, right below, 144 bars each.
 * Without an X display it draws nothing and only follows the calls.
 * KUV_VIS_PLUGIN_LOG=FILE makes it write one line per call to FILE
 * ("init RATE CHANNELS", "render SUM" with SUM the spectrum bytes added up,
 * "quit"), which kuv's tests read. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

#include "kuv_vis_plugin.h"

enum { kBars = 144, kBarWidth = 2, kRowHeight = 40, kWidth = kBars * kBarWidth, kHeight = 2 * kRowHeight };

static xcb_connection_t* connection;
static xcb_window_t window;
static xcb_gcontext_t background, bars;
static FILE* trace;

static int init(kuvVisModule* module) {
  const char* logPath = getenv("KUV_VIS_PLUGIN_LOG");
  if (logPath && *logPath) {
    trace = fopen(logPath, "a");
    if (trace) {
      fprintf(trace, "init %d %d\n", module->sampleRate, module->channels);
      fflush(trace);
    }
  }
  if (!getenv("DISPLAY")) return 0;
  connection = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    connection = NULL;
    return 0;
  }
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  window = xcb_generate_id(connection);
  const uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_EXPOSURE};
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, kWidth, kHeight, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  static const char title[] = "KUV Spectrum";
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof title - 1,
                      title);
  background = xcb_generate_id(connection);
  const uint32_t black = screen->black_pixel;
  xcb_create_gc(connection, background, window, XCB_GC_FOREGROUND, &black);
  bars = xcb_generate_id(connection);
  const uint32_t green = 0x00D000;
  xcb_create_gc(connection, bars, window, XCB_GC_FOREGROUND, &green);
  xcb_map_window(connection, window);
  xcb_flush(connection);
  return 0;
}

static int render(kuvVisModule* module) {
  if (trace) {
    long sum = 0;
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < 576; ++i) sum += module->spectrumData[c][i];
    fprintf(trace, "render %ld\n", sum);
    fflush(trace);
  }
  if (!connection) return 0;
  xcb_generic_event_t* event;
  while ((event = xcb_poll_for_event(connection)) != NULL) free(event);
  const xcb_rectangle_t all = {0, 0, kWidth, kHeight};
  xcb_poly_fill_rectangle(connection, window, background, 1, &all);
  xcb_rectangle_t rects[2 * kBars];
  int n = 0;
  for (int c = 0; c < 2; ++c) {
    for (int b = 0; b < kBars; ++b) {
      /* The loudest of four bands. */
      int level = 0;
      for (int k = 0; k < 4; ++k)
        if (module->spectrumData[c][4 * b + k] > level) level = module->spectrumData[c][4 * b + k];
      const int height = level * kRowHeight / 256;
      if (height == 0) continue;
      rects[n].x = (int16_t)(b * kBarWidth);
      rects[n].y = (int16_t)((c + 1) * kRowHeight - height);
      rects[n].width = kBarWidth - 1;
      rects[n].height = (uint16_t)height;
      ++n;
    }
  }
  if (n > 0) xcb_poly_fill_rectangle(connection, window, bars, (uint32_t)n, rects);
  xcb_flush(connection);
  return 0;
}

static void quit(kuvVisModule* module) {
  (void)module;
  if (trace) {
    fprintf(trace, "quit\n");
    fclose(trace);
    trace = NULL;
  }
  if (connection) {
    xcb_destroy_window(connection, window);
    xcb_flush(connection);
    xcb_disconnect(connection);
    connection = NULL;
  }
}

static kuvVisModule modules[2] = {
    {.description = "KUV Spectrum (window)", .init = init, .render = render, .quit = quit},
    {.description = "KUV Spectrum", .init = init, .render = render, .quit = quit},
};

static kuvVisModule* getModule(int index) { return index >= 0 && index < 2 ? &modules[index] : NULL; }

static kuvVisHeader header = {.version = 0x101, .description = "KUV Spectrum", .getModule = getModule};

__attribute__((visibility("default"))) kuvVisHeader* winampVisGetHeader(void) { return &header; }
