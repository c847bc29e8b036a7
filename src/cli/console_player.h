// kuv-decode's player: plays its inputs in order through the engine, the
// way the main window does, and shows progress on the terminal.
#pragma once

#include <string>
#include <vector>

namespace kuv {

struct ConsoleOptions {
  std::vector<std::string> inputs;
  std::string waveFile;     // -o: wave output into this file
  bool plugin = false;      // --plugin: output plug-in
  int deviceNumber = -2;    // --device N (-2: keep the setting)
  int downSample = -1;      // -1: keep the setting
  int channels = -9;        // -9: keep the setting
  bool eightBit = false;
  int priority = -99;       // -99: keep the setting
  bool answerYes = false;   // --yes: answer stream questions with Yes
  bool quiet = false;       // no progress display
};

// Returns the exit status: 0 when every input played.
int runConsolePlayer(const ConsoleOptions& options);

}  // namespace kuv
