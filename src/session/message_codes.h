// The numbers the player's front ends and its remote share: window commands
// (CMD_*), a second start's hand-over steps (HANDOVER_*) and the questions
// other programs may ask (MW_*). The instance channel carries them without
// knowing them.
#pragma once

#include <cstdint>

namespace kuv {

enum Command : int32_t {
  CMD_OPEN_FILE = 40001,
  CMD_CLOSE = 40003,
  CMD_OPEN_LOCATION = 40004,
  CMD_PLAYLIST_EDITOR = 40006,
  CMD_TAG_EDITOR = 40008,
  CMD_PREFERENCES = 40009,
  CMD_PLAY = 40010,
  CMD_STOP = 40011,
  CMD_PAUSE = 40012,
  CMD_NEXT = 40013,
  CMD_PREVIOUS = 40014,
  CMD_SHUFFLE = 40015,
  CMD_REPEAT = 40016,
  CMD_ABOUT = 40018,
  CMD_ALWAYS_ON_TOP = 40042,
  CMD_VIS_PLUGIN = 40045,
  CMD_WINSHADE = 40046,
  CMD_PLAY_CURRENT = 40102,
};

enum HandOverCode : int32_t {
  HANDOVER_CLEAR = 0,
  HANDOVER_ADD = 1,
  HANDOVER_REPLACE_AND_PLAY = 2,
  HANDOVER_SELECT = 3,
  HANDOVER_START = 4,
  // Brings the window forward (restoring it when minimised) without
  // touching the list: a second start with nothing to play.
  HANDOVER_RAISE = 5,
};

// Query messages; the lParam travels as the request's value.
constexpr uint32_t MW_GET_OUTPUT_POSITION = 0x8700;
constexpr uint32_t MW_GET_FRAMES_PLAYED = 0x8701;
constexpr uint32_t MW_GET_TOTAL_FRAMES = 0x8702;
constexpr uint32_t MW_GET_VOLUME = 0x8703;
constexpr uint32_t MW_SET_VOLUME = 0x8704;
constexpr uint32_t MW_SEEK_FRAME = 0x8705;
constexpr uint32_t MW_GET_STATE = 0x8706;
constexpr uint32_t MW_GET_SAMPLE_RATE = 0x8707;
constexpr uint32_t MW_GET_LAYER = 0x8708;
constexpr uint32_t MW_GET_BIT_RATE = 0x8709;
// 0x870A..0x870F are unused.
constexpr uint32_t MW_GET_CHANNELS = 0x8710;
constexpr uint32_t MW_SEEK_MS = 0x8711;

}  // namespace kuv
