// Time-stamped snapshots of the decoded signal, released as the output
// plays them, so the display shows what is heard now.
#pragma once

#include <cstdint>

#include "decoder/vis_frame.h"

namespace kuv {

constexpr int32_t kVisQueueLimit = 500;

// No thread releases the records: peek and push do, by the output's
// position. Start lets them ask the output for it (always true: nothing can
// fail); stop forbids that again and empties the queue.
bool startVisQueue();
void stopVisQueue();

// Appends a copy of the record. With the queue over its limit it first
// releases what the output has played, then waits while the output's
// position advances; an output whose position stands still (a wave file),
// or a stopped queue, makes it drop the oldest record.
void pushVisFrame(const VisFrame& frame);
// Releases what the output has played (when started), then copies the head
// record, the one on show now, into out; leaves out untouched when empty.
// Returns whether there was one. An empty queue never asks the output.
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

// One release round, as peek and push run it: frees every record whose
// time has passed at the heard position positionMs.
void releaseVisFrames(uint32_t positionMs);

// How long the output's position must stand still before a push over the
// limit starts dropping the oldest record (200 ms; tests widen it).
void setVisStallWindowMs(uint32_t ms);

}  // namespace kuv
