#include "output/device_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using kuv::DeviceRing;
using kuv::RingChunk;
using kuv::RingReturns;

// One step of the device's life as the ring sees it. push(n) queues a
// buffer of n bytes (filled with one letter per write: a, b, c...);
// sendUpTo(n) hands at most n frames of the next buffer to ALSA; sendAll()
// hands everything queued; hear(f) and hearAll() say what was heard;
// hearDelay(d) is what a PCM delay of d frames says was heard; rewindTo(f)
// is ALSA's ring dropped after f frames were heard (what ALSA held beyond is
// gone); returnAll() is a drop, flush or failure. expectFree and
// expectToFrontEnd check the state at that point.
enum class Op { Write, Send, SendAll, Hear, HearAll, HearDelay, Rewind, ReturnAll, ExpectFree, ExpectToFrontEnd };

struct Step {
  Op op;
  int64_t value = 0;
};

struct Case {
  const char* what;
  int32_t blockAlign;
  std::vector<Step> steps;
  std::vector<int32_t> indexes;   // the buffers the writes were given
  std::vector<int32_t> returned;  // lengths of the returned buffers, in order
  std::string sent;               // what ALSA holds, heard or not
  uint64_t framesWritten;
  uint64_t framesPlayed;
};

// Plays the steps against a ring and a model of ALSA's bytes.
struct RingRun {
  DeviceRing ring;
  std::string buffers[kuv::kSoundBufferCount];
  std::vector<int32_t> indexes;
  std::vector<int32_t> returned;
  std::string sent;
  char letter = 'a';

  void take(const RingReturns& returns) {
    returned.insert(returned.end(), returns.length, returns.length + returns.count);
  }

  void send(int32_t maxFrames) {
    const RingChunk chunk = kuv::ringNextChunk(&ring, maxFrames);
    if (chunk.index < 0) return;
    sent += buffers[chunk.index].substr(static_cast<size_t>(chunk.offset),
                                        static_cast<size_t>(chunk.frames * ring.blockAlign));
    kuv::ringSent(&ring, chunk, chunk.frames);
  }

  void step(const Step& s) {
    switch (s.op) {
      case Op::Write: {
        ASSERT_GT(kuv::ringFreeCount(ring), 0) << "the case writes into a full ring";
        const int32_t index = kuv::ringPush(&ring, static_cast<int32_t>(s.value));
        ASSERT_TRUE(index >= 0 && index < kuv::kSoundBufferCount);
        // The buffer handed out was not queued already.
        int32_t queued = 0;
        for (int32_t i = 0; i < ring.queueCount; ++i)
          queued += ring.queue[(ring.queueHead + i) % kuv::kSoundBufferCount] == index;
        EXPECT_EQ(queued, 1) << "buffer " << index << " was handed out while queued";
        buffers[index] = std::string(static_cast<size_t>(s.value), letter++);
        indexes.push_back(index);
        break;
      }
      case Op::Send:
        send(static_cast<int32_t>(s.value));
        break;
      case Op::SendAll:
        while (kuv::ringMoreToSend(ring)) send(1 << 20);
        break;
      case Op::Hear:
        take(kuv::ringHeard(&ring, static_cast<uint64_t>(s.value)));
        break;
      case Op::HearAll:
        take(kuv::ringHeard(&ring, ring.framesWritten));
        break;
      case Op::HearDelay:
        take(kuv::ringHeard(&ring, ring.framesWritten - kuv::ringLag(ring, s.value)));
        break;
      case Op::Rewind:
        take(kuv::ringRewind(&ring, static_cast<uint64_t>(s.value)));
        sent.resize(static_cast<size_t>(ring.framesWritten) * static_cast<size_t>(ring.blockAlign));
        break;
      case Op::ReturnAll:
        take(kuv::ringReturnAll(&ring));
        break;
      case Op::ExpectFree:
        EXPECT_EQ(kuv::ringFreeCount(ring), s.value);
        break;
      case Op::ExpectToFrontEnd:
        EXPECT_EQ(kuv::ringFramesToFrontEnd(ring), static_cast<uint64_t>(s.value));
        break;
    }
  }
};

std::string letters(const std::vector<std::pair<char, size_t>>& runs) {
  std::string out;
  for (const auto& [c, n] : runs) out.append(n, c);
  return out;
}

Step push(int64_t bytes) { return {Op::Write, bytes}; }
Step sendUpTo(int64_t frames) { return {Op::Send, frames}; }
Step sendAll() { return {Op::SendAll}; }
Step hear(int64_t frame) { return {Op::Hear, frame}; }
Step hearAll() { return {Op::HearAll}; }
Step hearDelay(int64_t frames) { return {Op::HearDelay, frames}; }
Step rewindTo(int64_t frame) { return {Op::Rewind, frame}; }
Step returnAll() { return {Op::ReturnAll}; }
Step expectFree(int64_t buffers) { return {Op::ExpectFree, buffers}; }
Step expectToFrontEnd(int64_t frames) { return {Op::ExpectToFrontEnd, frames}; }

TEST(DeviceRing, BuffersGoOutInOrderAndComeBackOnlyOnceHeard) {
  std::vector<Step> fillAndWrap(10, push(8));
  fillAndWrap.insert(fillAndWrap.end(), {expectFree(0), sendAll(), expectFree(0), hearAll(), expectFree(10), push(8),
                                         push(8), expectFree(8)});
  std::string tenLetters;
  for (char c = 'a'; c <= 'j'; ++c) tenLetters += std::string(8, c);

  // what, blockAlign, steps, indexes, returned, sent, framesWritten, framesPlayed
  const std::vector<Case> cases = {
      {"ten buffers fill the ring, then it wraps to the first",
       4,
       fillAndWrap,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1},
       std::vector<int32_t>(10, 8),
       tenLetters,
       20,
       20},
      {"a buffer comes back when its last frame is heard, not before",
       4,
       {push(8), push(8), sendAll(), expectToFrontEnd(2), hear(1), expectFree(8), expectToFrontEnd(1), hear(2),
        expectFree(9), hear(3), expectFree(9), hear(4), expectFree(10), expectToFrontEnd(0)},
       {0, 1},
       {8, 8},
       letters({{'a', 8}, {'b', 8}}),
       4,
       4},
      {"nothing comes back before it was sent, however much is heard",
       4,
       {push(8), push(8), sendUpTo(2), hear(100), expectFree(9)},
       {0, 1},
       {8},
       letters({{'a', 8}}),
       2,
       2},
      {"what was heard never goes back",
       4,
       {push(16), sendAll(), hear(3), hear(1), expectToFrontEnd(1)},
       {0},
       {},
       letters({{'a', 16}}),
       4,
       3},
      {"a delay longer than all that was sent means nothing was heard; a negative one, all",
       4,
       {push(8), push(8), sendAll(), hearDelay(1000), expectFree(8), hearDelay(2), expectFree(9), hearDelay(-5),
        expectFree(10)},
       {0, 1},
       {8, 8},
       letters({{'a', 8}, {'b', 8}}),
       4,
       4},
      {"a stray partial frame is never sent, a buffer without a frame is sent empty",
       4,
       {push(10), push(3), push(4), sendAll(), hear(2), expectFree(9), hearAll()},
       {0, 1, 2},
       {10, 3, 4},
       letters({{'a', 8}, {'c', 4}}),
       3,
       3},
      {"frames go out in chunks no longer than asked",
       2,
       {push(16), sendUpTo(1), sendUpTo(2), expectFree(9), sendUpTo(100), hearAll()},
       {0},
       {16},
       letters({{'a', 16}}),
       8,
       8},
      {"a drop returns every queued buffer, sent or not, and all that was sent counts as over",
       4,
       {push(8), push(8), push(8), sendUpTo(2), sendUpTo(1), returnAll(), expectFree(10), push(8), sendAll(),
        expectToFrontEnd(2), hearAll()},
       {0, 1, 2, 3},
       {8, 8, 8, 8},
       letters({{'a', 8}, {'b', 4}, {'d', 8}}),
       5,
       5},
      {"after a dropped ring what was not heard is sent again from its first frame",
       4,
       {push(8), push(8), push(8), sendAll(), rewindTo(3), expectFree(8), sendAll(), hearAll()},
       {0, 1, 2},
       {8, 8, 8},
       letters({{'a', 8}, {'b', 8}, {'c', 8}}),
       6,
       6},
      {"a rewind inside a partly sent buffer goes on from the heard frame",
       4,
       {push(16), push(8), sendUpTo(3), rewindTo(1), sendAll(), hearAll()},
       {0, 1},
       {16, 8},
       letters({{'a', 16}, {'b', 8}}),
       6,
       6},
      {"a rewind is held between what was heard and what was sent",
       4,
       {push(8), push(8), sendAll(), hear(2), rewindTo(0), rewindTo(100), sendAll(), hearAll()},
       {0, 1},
       {8, 8},
       letters({{'a', 8}, {'b', 8}}),
       4,
       4},
      {"a rewind with nothing sent changes nothing",
       4,
       {push(8), rewindTo(0), expectFree(9), sendAll(), hearAll()},
       {0},
       {8},
       letters({{'a', 8}}),
       2,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RingRun run;
    kuv::ringReset(&run.ring, c.blockAlign);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      ASSERT_NO_FATAL_FAILURE(run.step(c.steps[i]));
      // ALSA holds exactly the frames the ring counts as written.
      ASSERT_EQ(run.sent.size(), run.ring.framesWritten * static_cast<uint64_t>(c.blockAlign));
    }
    EXPECT_EQ(run.indexes, c.indexes);
    EXPECT_EQ(run.returned, c.returned);
    EXPECT_EQ(run.sent, c.sent);
    EXPECT_EQ(run.ring.framesWritten, c.framesWritten);
    EXPECT_EQ(run.ring.framesPlayed, c.framesPlayed);
  }
}

}  // namespace
