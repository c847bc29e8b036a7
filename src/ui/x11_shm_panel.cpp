#include "ui/x11_shm_panel.h"

#if KUV_HAVE_XCB_SHM

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace kuv {

// Three segments, used in turn: while the server may still read one, the
// next frame is written into another. Only the put of the last segment asks
// for a completion event; the server takes requests in order, so that event
// frees all three. A segment is free once a completion of its put or a later
// one has been read. Events are read only when the next segment is not yet
// known to be free: one read of the socket every third round, and no event
// waiting to be read by the other two rounds' flushes.

struct ShmPanel {
  xcb_connection_t* connection = nullptr;
  xcb_window_t window = 0;
  xcb_gcontext_t gc = 0;
  uint8_t depth = 0;
  uint8_t completionEvent = 0;
  int x = 0, y = 0, width = 0, height = 0;
  struct Segment {
    int id = -1;
    void* memory = nullptr;
    xcb_shm_seg_t seg = 0;
    bool attached = false;
    uint64_t put = 0;  // the number of its last put, 0 before any
  } segments[kShmPanelSegments];
  int next = 0;
  uint64_t puts = 0;       // puts made
  uint64_t completed = 0;  // every put up to this one is done with
  bool broken = false;
};

namespace {

// The visual's pixels are 0x00RRGGBB in 32 bits, as the frame is kept.
bool pixelsMatch(xcb_connection_t* c, xcb_visualid_t visual, uint8_t depth) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  bool thirtyTwoBits = false;
  for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
    if (f.data->depth == depth) thirtyTwoBits = f.data->bits_per_pixel == 32;
  if (!thirtyTwoBits) return false;
  for (xcb_screen_iterator_t s = xcb_setup_roots_iterator(setup); s.rem; xcb_screen_next(&s))
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(s.data); d.rem; xcb_depth_next(&d)) {
      if (d.data->depth != depth) continue;
      for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
        if (v.data->visual_id == visual)
          return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000u &&
                 v.data->green_mask == 0xFF00u && v.data->blue_mask == 0xFFu;
    }
  return false;
}

ShmPanel* fail(ShmPanel* panel, std::string* why, const char* reason) {
  if (why) *why = reason;
  closeShmPanel(panel);
  return nullptr;
}

// Takes the server's completion events and errors without waiting.
void takeEvents(ShmPanel* panel) {
  // One read of the socket; what it brought is then taken from the queue.
  for (xcb_generic_event_t* event = xcb_poll_for_event(panel->connection); event;
       event = xcb_poll_for_queued_event(panel->connection)) {
    const uint8_t type = event->response_type & 0x7F;
    if (type == 0) {
      // Only our own requests go on this connection: any error (the window
      // gone, the segment refused) ends the panel.
      panel->broken = true;
    } else if (type == panel->completionEvent) {
      const auto* done = reinterpret_cast<const xcb_shm_completion_event_t*>(event);
      for (ShmPanel::Segment& s : panel->segments)
        if (s.seg == done->shmseg && s.put > panel->completed) panel->completed = s.put;
    }
    std::free(event);
  }
  if (xcb_connection_has_error(panel->connection)) panel->broken = true;
}

}  // namespace

ShmPanel* openShmPanel(const char* displayName, uint32_t window, int x, int y, int width, int height,
                       std::string* why) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) {
    if (why) *why = "no picture to put";
    return nullptr;
  }
  auto* panel = new ShmPanel;
  panel->window = window;
  panel->x = x, panel->y = y, panel->width = width, panel->height = height;
  // A connection of our own: the display thread uses it alone, and the
  // server's completion events and errors for our requests come back here
  // rather than into Qt's event handling, which would not know them.
  panel->connection = xcb_connect(displayName, nullptr);
  if (!panel->connection || xcb_connection_has_error(panel->connection))
    return fail(panel, why, "cannot connect to the X server");
  xcb_connection_t* c = panel->connection;

  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
  if (!ext || !ext->present) return fail(panel, why, "the X server has no MIT-SHM");
  panel->completionEvent = static_cast<uint8_t>(ext->first_event + XCB_SHM_COMPLETION);
  xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
  if (!version) return fail(panel, why, "the X server's MIT-SHM does not answer");
  std::free(version);

  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
  xcb_get_window_attributes_reply_t* attributes =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
  const bool known = geometry && attributes;
  const bool inside = known && x >= 0 && y >= 0 && x + width <= geometry->width && y + height <= geometry->height;
  const bool matches = known && pixelsMatch(c, attributes->visual, geometry->depth);
  if (geometry) panel->depth = geometry->depth;
  std::free(geometry);
  std::free(attributes);
  if (!known) return fail(panel, why, "the window is unknown to the X server");
  if (!inside) return fail(panel, why, "the panel is not inside the window");
  if (!matches) return fail(panel, why, "the window's pixels are not 32-bit RGB");

  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4u;
  for (ShmPanel::Segment& s : panel->segments) {
    s.id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (s.id < 0) return fail(panel, why, "cannot make a shared memory segment");
    s.memory = shmat(s.id, nullptr, 0);
    if (s.memory == reinterpret_cast<void*>(-1)) {
      s.memory = nullptr;
      return fail(panel, why, "cannot map a shared memory segment");
    }
    std::memset(s.memory, 0, bytes);
    s.seg = xcb_generate_id(c);
    // The one round trip: a server on another machine cannot attach our
    // memory, and says so here.
    xcb_generic_error_t* error = xcb_request_check(c, xcb_shm_attach_checked(c, s.seg, static_cast<uint32_t>(s.id), 1));
    if (error) {
      std::free(error);
      return fail(panel, why, "the X server cannot attach our shared memory (a remote display?)");
    }
    s.attached = true;
    // Freed by the system once both sides have let go, however we end.
    shmctl(s.id, IPC_RMID, nullptr);
  }
  panel->gc = xcb_generate_id(c);
  const uint32_t noExposures = 0;
  xcb_create_gc(c, panel->gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  xcb_flush(c);
  return panel;
}

bool putShmPanel(ShmPanel* panel, const uint32_t* pixels) {
  if (!panel || panel->broken) return false;
  ShmPanel::Segment* s = &panel->segments[panel->next];
  if (s->put > panel->completed) {
    takeEvents(panel);
    if (panel->broken || s->put > panel->completed) return false;
  }
  std::memcpy(s->memory, pixels, static_cast<size_t>(panel->width) * static_cast<size_t>(panel->height) * 4u);
  s->put = ++panel->puts;
  const bool askCompletion = panel->next == kShmPanelSegments - 1;
  panel->next = (panel->next + 1) % kShmPanelSegments;
  const auto w = static_cast<uint16_t>(panel->width), h = static_cast<uint16_t>(panel->height);
  xcb_shm_put_image(panel->connection, panel->window, panel->gc, w, h, 0, 0, w, h, static_cast<int16_t>(panel->x),
                    static_cast<int16_t>(panel->y), panel->depth, XCB_IMAGE_FORMAT_Z_PIXMAP, askCompletion ? 1 : 0,
                    s->seg, 0);
  xcb_flush(panel->connection);
  if (xcb_connection_has_error(panel->connection)) panel->broken = true;
  return !panel->broken;
}

bool shmPanelBroken(const ShmPanel* panel) { return !panel || panel->broken; }

void closeShmPanel(ShmPanel* panel) {
  if (!panel) return;
  xcb_connection_t* c = panel->connection;
  const bool live = c && !xcb_connection_has_error(c);
  for (ShmPanel::Segment& s : panel->segments) {
    if (s.attached && live) xcb_shm_detach(c, s.seg);
    if (s.memory) shmdt(s.memory);
    if (s.id >= 0 && !s.attached) shmctl(s.id, IPC_RMID, nullptr);
  }
  if (live && panel->gc) xcb_free_gc(c, panel->gc);
  if (c) {
    if (live) xcb_flush(c);
    xcb_disconnect(c);
  }
  delete panel;
}

}  // namespace kuv

#else  // built without xcb-shm

namespace kuv {

struct ShmPanel {};

ShmPanel* openShmPanel(const char*, uint32_t, int, int, int, int, std::string* why) {
  if (why) *why = "built without xcb-shm";
  return nullptr;
}
bool putShmPanel(ShmPanel*, const uint32_t*) { return false; }
bool shmPanelBroken(const ShmPanel*) { return true; }
void closeShmPanel(ShmPanel*) {}

}  // namespace kuv

#endif
