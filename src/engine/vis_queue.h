// Time-stamped snapshots of the decoded signal, released as the output
// plays them, so the display shows what is heard now.
#pragma once

#include <cstdint>

#include "decoder/vis_frame.h"

namespace kuv {

constexpr int32_t kVisQueueLimit = 500;

// Starts the 2 ms release timer. False when it cannot be started.
bool startVisQueue();
void stopVisQueue();

// Appends a copy of the record. With the queue over its limit it waits for
// the release timer while the output's position advances; an output whose
// position stands still (a wave file) makes it drop the oldest record.
void pushVisFrame(const VisFrame& frame);
// Copies the head record into out; leaves out untouched when empty.
// Returns whether there was one.
bool peekVisFrame(VisFrame* out);
void clearVisQueue();
int32_t visQueueCount();

// The clock positions are computed from: output bytes since the track
// started (set after a seek, reset at a track start), and since the last
// record. 64 bits: 32 would wrap after 4 GiB, under seven hours of 44.1 kHz
// stereo.
void setVisByteCounter(uint64_t bytes);
uint64_t visByteCounter();
// Counts a synthesised block of blockBytes into both counters; true when a
// record is due (since-last >= writeThreshold / 8, or the staging fill has
// reached writeThreshold), which also restarts the since-last count.
bool visCountBlock(int32_t blockBytes, int32_t writeThreshold, int32_t stagingFill);
// Position of a record made now: byteCounter / ((rate*channels*bits/8)/1000),
// unsigned integer divisions; 0 when the format gives a zero divisor.
uint32_t visPositionMs(int32_t outRate, int32_t outChannels, int32_t outBits);

// One release round, as the timer runs it (exposed for tests): frees every
// record whose time has passed at the heard position positionMs.
void releaseVisFrames(uint32_t positionMs);

// How long the output's position must stand still before a push over the
// limit starts dropping the oldest record (200 ms; tests widen it).
void setVisStallWindowMs(uint32_t ms);

}  // namespace kuv
