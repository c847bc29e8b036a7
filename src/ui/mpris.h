// The player on the session bus as an MPRIS 2 media player, so media keys,
// the desktop's media controls and playerctl drive it. Every request goes
// through the window's own commands, hand-over steps and queries.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/mpris_logic.h"

namespace kuv {

class MainWindow;
class MprisObject;

class MprisService {
 public:
  explicit MprisService(MainWindow& window);
  ~MprisService();
  MprisService(const MprisService&) = delete;
  MprisService& operator=(const MprisService&) = delete;

  // Takes the bus name and registers the object; false, quietly, without a
  // session bus (the player works on without desktop controls).
  bool start();
  // After anything may have changed: one PropertiesChanged with what did.
  void refresh();
  // Playback was sent to positionMs.
  void seeked(int64_t positionMs);

 private:
  std::unique_ptr<MprisObject> object_;
};

}  // namespace kuv
