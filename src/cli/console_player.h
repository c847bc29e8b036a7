// kuv-decode's player: plays its inputs in order through the engine, the
// way the main window does, and shows progress on the terminal.
#pragma once

#include <string>
#include <vector>

namespace kuv {

struct ConsoleOptions {
  std::vector<std::string> inputs;
  std::string waveFile;   // -o: wave output into this file
  bool plugin = false;    // --plugin: output plug-in
  int deviceNumber = -2;  // --device N (-2: keep the setting)
  int downSample = -1;    // -1: keep the setting
  int channels = -9;      // -9: keep the setting
  bool eightBit = false;
  int priority = -99;      // -99: keep the setting
  bool answerYes = false;  // --yes: answer stream questions with Yes
  bool quiet = false;      // no progress display
  int shuffle = -1;        // --shuffle: ShufflePlay 1 (-1: keep the setting)
  int repeat = -1;         // --repeat N: RepeatPlay (-1: keep the setting)
};

// kuv-decode's exit statuses, strongest first when several apply.
constexpr int kExitInterrupted = 130;  // Ctrl-C or SIGTERM
constexpr int kExitOutputFailed = 3;   // the output could not be opened or written; playback stopped
constexpr int kExitUsage = 2;          // bad command line
constexpr int kExitInputFailed = 1;    // an input could not be opened, held no audio, or named nothing
constexpr int kExitOk = 0;             // every input produced audio

// Adds the inputs to the playlist and plays it as the player does, by
// RepeatPlay and ShufflePlay. Each input that fails gets one line on stderr
// saying why. Returns one of the exit statuses above.
int runConsolePlayer(const ConsoleOptions& options);

// Adds the names to the playlist and prints it, one entry a line with its
// length, then the total play time. Returns 0 when anything was listed.
int listPlaylist(const std::vector<std::string>& names);

}  // namespace kuv
