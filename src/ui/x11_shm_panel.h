// The LED panel put straight into the window on an X server through
// MIT-SHM: the display thread copies its pixels into a shared segment and
// asks the server to show it, with no round trip and none of Qt's painting.
// Qt-free, so the main window only decides when to use it.
#pragma once

#include <cstdint>
#include <string>

namespace kuv {

struct ShmPanel;

// Frames in flight: one read of the server's completions every this many.
constexpr int kShmPanelSegments = 3;

// Connects to displayName on a connection of its own, checks that the
// server has MIT-SHM, that the window's pixels are 32-bit 0x00RRGGBB, and
// attaches kShmPanelSegments segments of width x height pixels; the picture goes to
// (x, y) of the window. nullptr with the reason in *why when any of it
// fails (no extension, a remote server that cannot attach our memory, an
// unusual visual, a build without xcb-shm): the caller paints as before.
ShmPanel* openShmPanel(const char* displayName, uint32_t window, int x, int y, int width, int height, std::string* why);

// Copies width x height pixels (0xAARRGGBB, alpha ignored on a 24-bit
// window) into a segment the server is not reading and puts it into the
// window. False when the next segment is still being read or the connection
// has failed; the caller then paints the frame its other way.
bool putShmPanel(ShmPanel* panel, const uint32_t* pixels);

// The connection or a request failed: the panel will put nothing any more.
bool shmPanelBroken(const ShmPanel* panel);

// Detaches, frees the segments and disconnects; nullptr is fine.
void closeShmPanel(ShmPanel* panel);

}  // namespace kuv
