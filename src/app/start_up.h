// Decisions of kuv's start that need no window: which display to use (or
// none), and when requests of a second start may run.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace kuv {

// --- The display ------------------------------------------------------------

// What the environment says of the display, as main reads it.
struct DisplayEnvironment {
  std::string display;         // DISPLAY
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  std::string runtimeDir;      // XDG_RUNTIME_DIR
  std::string qtPlatform;      // QT_QPA_PLATFORM
};

struct DisplayChoice {
  bool usable = false;
  // The QT_QPA_PLATFORM to set before Qt starts; empty leaves it as it is.
  std::string platform;
  // Why there is none, for the message; empty when usable.
  std::string reason;
};

// Qt aborts the process when its platform cannot connect, so the display
// is probed first. X is preferred where both are reachable: the window
// places and drags itself, which only X lets it do. A platform set by the
// user is kept; one of the two probed is probed all the same.
DisplayChoice chooseDisplay(const DisplayEnvironment& env, const std::function<bool(const std::string&)>& reachX,
                            const std::function<bool(const DisplayEnvironment&)>& reachWayland);

// Whether an X server answers a connection at a DISPLAY value
// ("[host]:N[.S]", "unix:N", or a socket path followed by ":N"). Only the
// connection is tried; authorisation is Qt's business.
bool xDisplayReachable(const std::string& display);
// Whether the Wayland compositor's socket takes a connection.
bool waylandReachable(const DisplayEnvironment& env);

// The pieces of a DISPLAY value; false when it is not one.
struct XDisplayAddress {
  std::string host;        // empty or "unix": the local socket
  std::string socketPath;  // set when the value names a socket file
  int32_t number = 0;
};
bool parseXDisplay(const std::string& display, XDisplayAddress& address);

// --- Requests during the start ----------------------------------------------

// Requests of a second start arrive on the channel's own thread, possibly
// before the window exists (an error box of the start is open). They wait
// at the gate until the window is up; when the start ends without one they
// are turned away, so the second start can say its names were not taken.
class StartGate {
 public:
  // Blocks while the start goes on; true once the window is up, false when
  // the start ended without it or the window has gone.
  bool wait();
  void open();   // the window is up
  void close();  // the start gave up, or the window has gone: for good

 private:
  enum class Phase { Starting, Open, Closed };
  std::mutex lock_;
  std::condition_variable changed_;
  Phase phase_ = Phase::Starting;
};

}  // namespace kuv
