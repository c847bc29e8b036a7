// An engine that records what a session asks of it, one word a call.
#pragma once

#include <string>
#include <vector>

#include "session/playback_session.h"

namespace kuv::test {

struct RecordingEngine final : EngineControl {
  std::vector<std::string> calls;
  PlaybackInfo info{};
  int32_t position = 0;
  int32_t tickets = 0;
  bool refusePlay = false;   // the play commands are not posted
  bool refuseStart = false;  // the engine thread cannot start
  int32_t openPolls = 0;     // outputIsOpen answers true this many times
  bool startVisQueue() override {
    calls.push_back("startVis");
    return true;
  }
  void stopVisQueue() override { calls.push_back("stopVis"); }
  bool startEngine(const NotificationSink&) override {
    calls.push_back("startEngine");
    return !refuseStart;
  }
  void shutdownEngine() override { calls.push_back("shutdown"); }
  int32_t play(const std::string& path) override {
    calls.push_back("play " + path);
    return refusePlay ? 0 : ++tickets;
  }
  int32_t playLast() override {
    calls.push_back("play");
    return refusePlay ? 0 : ++tickets;
  }
  void stop() override { calls.push_back("stop"); }
  void closeOutput() override { calls.push_back("close"); }
  bool outputIsOpen() override {
    calls.push_back("isOpen");
    return openPolls-- > 0;
  }
  void seekFrame(int32_t frame) override { calls.push_back("seekFrame " + std::to_string(frame)); }
  void seekMilliseconds(int32_t ms) override { calls.push_back("seekMs " + std::to_string(ms)); }
  void pauseOutput() override { calls.push_back("pause"); }
  void resumeOutput() override { calls.push_back("resume"); }
  void flushOutput() override { calls.push_back("flush"); }
  int32_t outputPosition() override { return position; }
  PlaybackInfo playbackInfo() override { return info; }
  int32_t frames = 0;
  int32_t framesDecoded() override { return frames; }
  struct Quiet {
    uint32_t ticket, from, to;
  };
  std::vector<Quiet> quiet;
  void setProgressQuiet(uint32_t ticket, uint32_t from, uint32_t to) override { quiet.push_back({ticket, from, to}); }
};

}  // namespace kuv::test
