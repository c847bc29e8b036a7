#include "output/device_list.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "output/sound_device.h"

namespace kuv {
namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// The n-th playback PCM among ALSA's name hints (those not marked input-only).
bool playbackHint(int32_t n, std::string* name, std::string* description) {
  if (n < 0) return false;
  silenceAlsa();
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return false;
  bool found = false;
  int32_t index = 0;
  for (void** hint = hints; *hint != nullptr && !found; ++hint) {
    char* hintName = snd_device_name_get_hint(*hint, "NAME");
    char* ioid = snd_device_name_get_hint(*hint, "IOID");
    const bool playback = hintName != nullptr && (ioid == nullptr || std::strcmp(ioid, "Input") != 0);
    if (playback && index++ == n) {
      found = true;
      *name = hintName;
      char* desc = snd_device_name_get_hint(*hint, "DESC");
      description->clear();
      for (const char* c = desc; c != nullptr && *c != '\0'; ++c) {
        if (*c == '\n')
          description->append(" - ");
        else
          description->push_back(*c);
      }
      std::free(desc);
    }
    std::free(hintName);
    std::free(ioid);
  }
  snd_device_name_free_hint(hints);
  return found;
}

}  // namespace

void silenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(ignoreAlsaMessage); });
}

bool noSoundCard() {
  int card = -1;
  return snd_card_next(&card) < 0 || card < 0;
}

int32_t soundDeviceName(int32_t deviceNumber, std::string* text) {
  std::string result;
  int32_t found = 1;
  if (deviceNumber == -1) {
    result = "Wave Mapper";
  } else {
    std::string name;
    std::string description;
    if (playbackHint(deviceNumber, &name, &description)) {
      result = description.empty() ? name : description;
    } else {
      result = "Bad Device";
      found = 0;
    }
  }
  if (text != nullptr) *text = result;
  return found;
}

std::string soundDevicePcmName(int32_t deviceNumber) {
  if (deviceNumber == -1) return "default";
  std::string name;
  std::string description;
  return playbackHint(deviceNumber, &name, &description) ? name : std::string();
}

}  // namespace kuv
