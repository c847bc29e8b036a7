// The sound devices ALSA offers: its playback name hints in order, with
// "Wave Mapper" (-1) standing for ALSA's default. soundDeviceName and
// soundDevicePcmName (sound_device.h) are defined here.
#pragma once

namespace kuv {

// ALSA prints its own complaints on stderr; ours go into message boxes.
// Call before the first use of ALSA.
void silenceAlsa();

// True when the machine has no sound card at all.
bool noSoundCard();

}  // namespace kuv
