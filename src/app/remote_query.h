// The command-line remote: `kuv --query NAME` asks the running player one
// question over the instance channel and prints the answer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/instance_channel.h"
#include "session/message_codes.h"

namespace kuv {

// Maps a query name to its message and lParam. The names: position,
// frames-played, total-frames, volume, set-volume=N, seek-frame=N, state,
// sample-rate, layer, bit-rate, channels, seek-ms=N, where N is a decimal
// 32-bit integer with an optional minus sign. Names that take no N refuse
// one, names that take N need it. False for anything else (message and
// value are then left alone).
bool parseQueryName(const std::string& text, uint32_t& message, int32_t& value);

// "position, frames-played, ..., seek-ms=N" for help and error texts.
std::string queryNameList();

// Parses nameText, asks the instance listening on socketName and prints the
// answer as a decimal number and a newline on `out`; returns 0. Otherwise
// prints one line on `err` and returns 2 for a bad name, 1 when no instance
// runs or it did not answer.
int runQuery(const std::string& nameText, FILE* out, FILE* err, const std::string& socketName = instanceSocketName());

}  // namespace kuv
