#include "engine/decoder_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "config/settings.h"
#include "decoder/bit_reader.h"
#include "decoder/decoder_state.h"
#include "decoder/frame_header.h"
#include "decoder/frame_timing.h"
#include "decoder/layer12.h"
#include "decoder/synthesis.h"
#include "engine/frame_reader.h"
#include "engine/input_stream.h"
#include "engine/replay_gain.h"
#include "engine/stream_tags.h"
#include "engine/vis_queue.h"
#include "layer3/layer3.h"
#include "output/output_system.h"
#include "platform/message_box.h"
#include "platform/message_queue.h"

namespace kuv {

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kEngineBoxStyle = platform::MB_OK | platform::MB_ICONERROR | platform::MB_SETFOREGROUND;

struct Engine {
  std::thread thread;
  platform::MessageQueue queue;
  NotificationSink sink;
  int32_t id = 0;
  // Set by stop() and shutdownEngine() at once, not only by their messages,
  // so that waits inside a track (for room in the staging buffer, for a URL's
  // first bytes) end without waiting for the next frame.
  std::atomic<int> abandon{0};
  // Stop commands posted but not yet taken from the queue. A play command
  // taken while one is pending is already stopped: its open gives up at once.
  std::atomic<int32_t> pendingStops{0};
  // Tickets of play commands: the last one handed out, and (decoder thread
  // only) the one of the track being played, sent with every notification.
  std::atomic<uint32_t> lastTicket{0};
  uint32_t ticket = 0;
  std::atomic<int> quitting{0};
  std::atomic<int> ended{0};
  // PlaybackInfo, published field by field; readers may see a mix.
  std::atomic<int32_t> playing{0};
  std::atomic<int32_t> sampleRate{0};
  std::atomic<int32_t> layer{0};
  std::atomic<int32_t> bitRate{0};
  std::atomic<int32_t> stereo{0};
  std::atomic<int32_t> channels{0};
  // The input, here so that shutdownEngine can cut a stalled download.
  std::unique_ptr<InputStream> stream;
  // A posted ENGINE_PROGRESS the receiver has not taken yet.
  std::atomic<int> progressPending{0};
  // The frame counter, for readers on other threads.
  std::atomic<uint32_t> frameCounter{0};
  // Counters whose report would show the receiver nothing new
  // (setProgressQuiet): [quietFrom, quietTo) of the track with quietTicket.
  std::mutex quietLock;
  uint32_t quietTicket = 0, quietFrom = 0, quietTo = 0;
};
Engine engine;
// Outlives engine starts: the display may ask before the engine runs.
std::atomic<bool> visWanted{false};
std::atomic<void (*)()> infoWatcher{nullptr};
int32_t nextEngineId = 1;

void sendNotification(uint32_t message, intptr_t lParam) {
  if (engine.quitting.load() || !engine.sink.send) return;
  engine.sink.send(engine.sink.context, message, engine.ticket, lParam);
}

void postNotification(uint32_t message, intptr_t lParam) {
  if (engine.quitting.load() || !engine.sink.post) return;
  engine.sink.post(engine.sink.context, message, engine.ticket, lParam);
}

// Posted at most every second frame and, for a receiver that acknowledges,
// never while the last one is unread: converting a file would otherwise
// post thousands a second that nobody reads before the next.
void postProgress(uint32_t frameCounter) {
  {
    std::lock_guard<std::mutex> hold(engine.quietLock);
    if (engine.quietTicket == engine.ticket && engine.quietTicket != 0 && frameCounter >= engine.quietFrom &&
        frameCounter < engine.quietTo)
      return;
  }
  if (engine.sink.acknowledgesProgress && engine.progressPending.exchange(1) != 0) return;
  postNotification(ENGINE_PROGRESS, static_cast<intptr_t>(frameCounter));
}

// A play command taken from the queue: its ticket, and whether a stop
// posted after it already asks it to give up.
void beginCommand(const platform::ThreadMessage& message) {
  engine.ticket = static_cast<uint32_t>(message.wParam);
  engine.abandon.store(0);
  if (engine.pendingStops.load() > 0) engine.abandon.store(1);
}

void stopTaken() { engine.pendingStops.fetch_sub(1); }

void setThreadPriority(int32_t decoderPriority) {
  // Raising the priority needs privileges; refused quietly without them.
  const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceForPriority(decoderPriority));
}

// A play command's name travels with its message, so a second play command
// can never overwrite a name the thread has not taken yet.
std::string takeName(const platform::ThreadMessage& message) {
  std::unique_ptr<std::string> name(reinterpret_cast<std::string*>(message.lParam));
  return name ? *name : std::string();
}

void discard(const platform::ThreadMessage& message) {
  if (message.message == ENGINE_PLAY_FILE || message.message == ENGINE_PLAY_FILE_QUIETLY)
    delete reinterpret_cast<std::string*>(message.lParam);
}

// Gapless playback: what the encoder put before and after the audio (its
// delay and padding, from the LAME tag) and the Layer III decoder's own
// delay are not played, so the tracks of an album join sample for sample.
// Counted in output sample frames.
constexpr uint64_t kLayer3DecoderDelay = 529;
constexpr uint64_t kPlayToTheEnd = UINT64_MAX;

// The same gate keeps the frames a seek decodes only to prime the decoder
// from being heard.
struct TrimGate {
  bool active = false;  // the track is trimmed (gapless)
  int32_t frameBytes = 4;
  int32_t downSample = 0;
  // Where the audio lies among the decoded samples, at the stream's rate.
  uint64_t audioStart = 0;
  uint64_t audioEnd = kPlayToTheEnd;
  // From the next output sample on, at the output rate.
  uint64_t skip = 0;                  // still to drop at the start
  uint64_t keepLeft = kPlayToTheEnd;  // still to play after it
};

// The next sample decoded is the stream's sample `at`; none before
// `heardFrom` is played.
void placeTrimGate(TrimGate& g, uint64_t at, uint64_t heardFrom) {
  const uint64_t from = std::max(heardFrom, g.audioStart);
  g.skip = (from > at ? from - at : 0) >> g.downSample;
  g.keepLeft =
      g.audioEnd == kPlayToTheEnd ? kPlayToTheEnd : (g.audioEnd > from ? g.audioEnd - from : 0) >> g.downSample;
}

// The decoder thread's own state.
struct Player {
  std::string name;
  int32_t priority = 0;
  int32_t system = 0;
  int32_t eightBit = 0;
  int32_t volume = 0;
  int32_t openRate = 0;  // rate the output is open with; 0 when it is not
  int32_t openChannels = 0;
  bool stopRequested = false;
  uint32_t frameCounter = 0;
  // The name was asked for as one of several alternatives (see
  // ENGINE_PLAY_FILE_QUIETLY).
  bool quiet = false;
  // The stream tags generation last posted for this track.
  uint64_t tagsPosted = 0;
  TrimGate gate;
  // Frames still to decode after a seek before any is heard, and the
  // visualisation clock the seek set.
  uint32_t primeLeft = 0;
  uint64_t visAtSeek = 0;
  // The playing file's frames, counted on a thread of their own.
  FrameIndexScan scan;
  // Sound decoded since the track start or the last seek, against the time
  // passed: how far the decoder runs ahead of real time.
  Clock::time_point paceStart{};
  uint64_t pacedUs = 0;
  FrameContext ctx;
  DecoderState decoder;
};

// The staging buffer's way out: the output system selected now.
int32_t writeToOutput(void*, int32_t length, const uint8_t* data) {
  return outputSystem.write ? outputSystem.write(length, data) : -1;
}

// While a seek primes the decoder: nothing of it is heard.
int32_t dropPrimed(void*, int32_t length, const uint8_t*) { return length; }

// The same through the track's trim gate: what lies before the audio and
// after it counts as taken but never reaches the output.
int32_t writeTrimmed(void* context, int32_t length, const uint8_t* data) {
  TrimGate& g = *static_cast<TrimGate*>(context);
  if (g.skip == 0 && g.keepLeft == kPlayToTheEnd) return writeToOutput(nullptr, length, data);
  const auto frames = static_cast<uint64_t>(length / g.frameBytes);
  const uint64_t drop = std::min(g.skip, frames);
  g.skip -= drop;
  const int32_t dropped = static_cast<int32_t>(drop) * g.frameBytes;
  // The visualisation clock counts what is heard.
  if (dropped > 0) setVisByteCounter(visByteCounter() - std::min<uint64_t>(visByteCounter(), dropped));
  const int32_t rest = length - dropped;
  int32_t allowed = rest;
  if (g.keepLeft != kPlayToTheEnd && static_cast<uint64_t>(rest / g.frameBytes) > g.keepLeft)
    allowed = static_cast<int32_t>(g.keepLeft) * g.frameBytes;
  const int32_t taken = allowed > 0 ? writeToOutput(nullptr, allowed, data + dropped) : 0;
  if (taken < 0) return taken;
  if (g.keepLeft != kPlayToTheEnd) g.keepLeft -= std::min<uint64_t>(g.keepLeft, taken / g.frameBytes);
  // Past the end: the padding goes as if played.
  return dropped + (taken == allowed ? rest : taken);
}

void adoptFrameIndex(Player& p, std::shared_ptr<const FrameIndex> index);

void seek(Player& p, const platform::ThreadMessage& message) {
  InputStream& s = *engine.stream;
  // A seek soon after the start waits for the count (tens of milliseconds
  // for a long file), so it too lands on its frame.
  if (!s.index) adoptFrameIndex(p, p.scan.finish());
  const bool moved = message.wParam == 1 ? seekToMilliseconds(s, p.ctx, static_cast<uint32_t>(message.lParam))
                                         : seekToFrame(s, p.ctx, static_cast<uint32_t>(message.lParam));
  if (!moved) return;
  std::memset(p.decoder.pcm.data, 0, 8192);
  p.decoder.pcm.fill = 0;
  // The frame heard first, after those that prime the decoder.
  const uint32_t seconds =
      s.primeFrames > 0 ? secondsAfterFrames(p.ctx, currentFrame(s, p.ctx) + s.primeFrames) : currentSeconds(s, p.ctx);
  outputSystem.flush();
  outputSystem.setPosition(static_cast<int32_t>(seconds));
  clearVisQueue();
  setVisByteCounter(static_cast<uint64_t>(seconds) * static_cast<uint64_t>(p.ctx.outChannels) *
                    static_cast<uint64_t>(p.ctx.outRate) * static_cast<uint64_t>(p.ctx.outBits / 8));
  // The frames that prime the decoder are decoded into nothing and not
  // counted; the counter and the gate start at the frame heard first.
  p.frameCounter = currentFrame(s, p.ctx) + s.primeFrames;
  engine.frameCounter.store(p.frameCounter, std::memory_order_relaxed);
  p.primeLeft = s.primeFrames;
  p.visAtSeek = visByteCounter();
  p.decoder.pcm.write = p.primeLeft > 0 ? dropPrimed : writeTrimmed;
  const uint64_t heard =
      static_cast<uint64_t>(p.frameCounter) * static_cast<uint64_t>(samplesPerFrameFor(p.ctx.layer, p.ctx.lsf));
  placeTrimGate(p.gate, heard, heard);
  p.paceStart = Clock::now();
  p.pacedUs = 0;
}

// Hands what the staging buffer still holds to the output, so the end of the
// last track is not lost when the output closes.
void drainStaging(Player& p) {
  PcmStagingBuffer& pcm = p.decoder.pcm;
  int32_t tries = 0;
  while (pcm.fill > 0 && outputSystem.isOpen() && tries++ < 1000) {
    const int32_t taken = outputSystem.write(pcm.fill, pcm.data);
    if (taken <= 0) break;
    const int32_t kept = taken < pcm.fill ? pcm.fill - taken : 0;
    std::memmove(pcm.data, pcm.data + taken, static_cast<size_t>(kept));
    pcm.fill = kept;
  }
  pcm.fill = 0;
}

// Closes the output and forgets how it was open, so the next track opens it
// afresh (a device that failed may work again by then).
void closeOutputDevice(Player& p, int32_t discard) {
  if (outputSystem.isOpen()) outputSystem.close(discard);
  p.openRate = 0;
  p.openChannels = 0;
}

// Takes up a volume change made on another thread.
void followVolume(Player& p) {
  const int32_t volume = sharedSetting(settings.EqVolume);
  if (volume == p.volume) return;
  p.volume = volume;
  outputSystem.setVolume(p.volume);
}

// A file that plays nothing would otherwise be passed over without a word.
void tellNoAudio(const std::string& name, bool emptyFile) {
  std::string text = emptyFile ? kEmptyFileText : kNoAudioText;
  text.replace(text.find("%s"), 2, name);
  platform::messageBox(text, kStreamErrorTitle,
                       platform::MB_OK | platform::MB_ICONWARNING | platform::MB_SETFOREGROUND);
}

// How a track's frame loop ended.
enum class TrackEnd { kStream, kStopped, kQuit, kOutputOpenFailed, kWriteFailed };

// One track's settings, read once at its start, and how its loop goes.
struct Track {
  int32_t downSample = 0;
  int32_t channels = 0;
  int32_t system = 0;
  int32_t eightBitSetting = 0;
  int32_t eightBit = 0;
  int32_t outChannels = 2;
  int32_t bufferCount = 0;  // the output's buffers, for pacing the decoder
  bool justStarted = true;
  bool decodedAny = false;
  TrackEnd end = TrackEnd::kStream;
};

// What the frame loop does after a step.
enum class Step { kGoOn, kNextFrame, kLeave };

Track readTrackSettings() {
  Track t;
  const int32_t downSample = sharedSetting(settings.DownSample);
  t.downSample = downSample >= 0 && downSample <= 2 ? downSample : 0;
  t.channels = sharedSetting(settings.Channels);
  t.system = sharedSetting(settings.AudioOutputSystem);
  t.eightBitSetting = sharedSetting(settings.AudioOutput8Bit);
  t.eightBit = t.eightBitSetting != 0 ? 1 : 0;
  t.outChannels = t.channels >= 0 ? 1 : 2;
  return t;
}

// Switches to the output system chosen now and readies it. False when it
// cannot be initialised.
bool prepareOutput(Player& p, const Track& t) {
  if (t.system != p.system) {
    p.system = t.system;
    if (outputSystem.close) outputSystem.close(1);
    selectOutputSystem(p.system);
    p.openRate = 0;
    p.openChannels = 0;
  }
  if (!outputSystem.init()) return false;
  followVolume(p);
  if (t.eightBitSetting != p.eightBit) {
    closeOutputDevice(p, 1);
    p.eightBit = t.eightBitSetting;
  }
  return true;
}

// Routing and tables for the track's output format; the visualisation
// clock starts again at zero.
void prepareDecoder(Player& p, Track& t) {
  FrameContext& ctx = p.ctx;
  routeOutput(ctx, t.channels, t.downSample, t.eightBit);
  ctx.state = &p.decoder;
  prepareDecoderTables();
  clearVisQueue();
  setVisByteCounter(0);
  t.bufferCount = outputSystem.getBufferCount();
}

// The track's output stage, at its first frame: the gapless trim and the
// loudness correction.
void startOutputStage(Player& p, const Track& t) {
  InputStream& s = *engine.stream;
  const FrameContext& ctx = p.ctx;
  PcmStagingBuffer& pcm = p.decoder.pcm;
  const LameTag& lame = s.tag.lame;
  const bool gapless =
      sharedSetting(settings.Gapless) != 0 && ctx.layer == 3 && lame.present && lame.delayUsable && s.tag.frames > 0;
  // The last track's tail goes out first: it is no part of this one's trim.
  if (gapless && pcm.fill > 0) pcmMakeRoom(pcm, kPcmStagingBytes);
  TrimGate& g = p.gate;
  g = TrimGate{};
  g.frameBytes = t.outChannels * (t.eightBit ? 1 : 2);
  g.downSample = t.downSample;
  if (gapless) {
    const uint64_t total = static_cast<uint64_t>(s.tag.frames) * samplesPerFrameFor(ctx.layer, ctx.lsf);
    g.active = true;
    g.audioStart = static_cast<uint64_t>(lame.encoderDelay) + kLayer3DecoderDelay;
    // A padding shorter than the decoder's delay leaves the end short.
    g.audioEnd = std::min(total, total - static_cast<uint64_t>(lame.encoderPadding) + kLayer3DecoderDelay);
    placeTrimGate(g, 0, 0);
  }
  double scale = 1.0;
  const int32_t mode = sharedSetting(settings.ReplayGain);
  if (mode != kReplayGainOff) {
    ReplayGainInfo info;
    if (s.regular) readFileReplayGain(p.name, info);
    // Without shuffle the list is taken to play albums in order.
    scale = replayGainScale(mergeLameReplayGain(info, lame), mode, sharedSetting(settings.ReplayGainPreamp),
                            sharedSetting(settings.ShufflePlay) == 0);
  }
  setSynthesisGain(p.decoder.synthesis, scale);
}

// Once the scan has counted the file's frames, seeks land on the frame
// asked for, and a count that differs from the estimate is told.
void followFrameIndex(Player& p) { adoptFrameIndex(p, p.scan.take()); }

void adoptFrameIndex(Player& p, std::shared_ptr<const FrameIndex> index) {
  if (!index) return;
  InputStream& s = *engine.stream;
  const uint32_t estimated = totalFrames(s, p.ctx);
  s.index = std::move(index);
  const uint32_t counted = totalFrames(s, p.ctx);
  if (counted == estimated) return;
  // A tag whose count lies says nothing sure of the end: play it all.
  if (p.gate.active && s.tag.frames != counted) p.gate.audioEnd = p.gate.keepLeft = kPlayToTheEnd;
  postNotification(ENGINE_TRACK_LENGTH, static_cast<intptr_t>(counted));
}

// Tells the receiver when the stream's station or title has changed.
void followStreamTags(Player& p) {
  const uint64_t generation = streamTagsGeneration();
  if (generation == p.tagsPosted) return;
  p.tagsPosted = generation;
  postNotification(ENGINE_STREAM_TAGS, 0);
}

// False when the input cannot be opened (reported unless given up for a stop).
bool openTrackInput(Player& p) {
  InputStream& s = *engine.stream;
  s.url.abandon = &engine.abandon;
  s.url.quiet = p.quiet;
  // The last stream's tags are no part of this one: a receiver that was
  // shown some hears (after the open) that there are none now.
  clearStreamTags();
  if (!openStream(s, p.name)) {
    // An open given up for a stop or quit is no failure to report: the
    // receiver has already moved on.
    if (!engine.abandon.load())
      postNotification(ENGINE_OPEN_FAILED, s.isUrl && s.url.playlistFetched ? kOpenFailedPlaylist : kOpenFailedInput);
    return false;
  }
  followStreamTags(p);
  if (s.regular) p.scan.start(p.name);
  outputSystem.setPosition(0);
  // A report of the last track the receiver dropped unread holds no new one.
  engine.progressPending.store(0);
  sendNotification(ENGINE_PROGRESS, 0);
  resetFrameState(s);
  return true;
}

// Quit, stop and seek are taken between frames; other commands wait.
Step takeCommand(Player& p, Track& t) {
  platform::ThreadMessage message;
  if (!engine.queue.peek(&message)) return Step::kGoOn;
  if (message.message == platform::WM_QUIT) {
    t.end = TrackEnd::kQuit;
    return Step::kLeave;
  }
  if (message.message == ENGINE_STOP) {
    stopTaken();
    p.stopRequested = true;
    t.end = TrackEnd::kStopped;
    outputSystem.flush();
    return Step::kLeave;
  }
  if (message.message == ENGINE_SEEK) {
    seek(p, message);
    if (void (*watcher)() = infoWatcher.load(); watcher != nullptr) watcher();
    return Step::kNextFrame;  // the seek has read ahead; go on with the next frame
  }
  discard(message);
  return Step::kGoOn;
}

// At the first frame and at every header change: publishes the playback
// info, announces the track, and opens the output anew for a new format.
// False when the output cannot be opened.
bool followFormat(Player& p, Track& t) {
  FrameContext& ctx = p.ctx;
  const int32_t rate = kSampleRates[ctx.sampleRateIndex] >> t.downSample;
  const int32_t outBits = t.eightBit ? 8 : 16;
  // Published before the track-started notification: its receiver
  // takes its copy of the playback info while handling it.
  engine.layer.store(ctx.layer);
  const int32_t bitRate = bitRateKbps(ctx.lsf, ctx.layer, ctx.bitRateIndex);
  const bool bitRateChanged = engine.bitRate.exchange(bitRate) != bitRate;
  const bool ratesChanged = (engine.sampleRate.exchange(rate) != rate) || bitRateChanged;
  engine.playing.store(1);
  engine.stereo.store(t.outChannels != 1 ? 1 : 0);
  engine.channels.store(ctx.channels);
  if (void (*watcher)() = infoWatcher.load(); ratesChanged && watcher != nullptr) watcher();
  if (t.justStarted) {
    ctx.outRate = rate;
    ctx.outChannels = t.outChannels;
    ctx.outBits = outBits;
    sendNotification(ENGINE_TRACK_STARTED, static_cast<intptr_t>(totalFrames(*engine.stream, ctx)));
  }
  p.decoder.pcm.writeThreshold = writeThresholdFor(ctx.sampleRateIndex, t.downSample);
  // A new rate or channel count needs the device opened anew (mono into
  // a stereo device would play at double speed).
  if (rate != p.openRate || t.outChannels != p.openChannels) {
    // PCM staged in the old format goes to the old output first, and the
    // old track is played out before the device closes, unless stopped.
    drainStaging(p);
    closeOutputDevice(p, engine.abandon.load() ? 1 : 0);
    if (!outputSystem.open(rate, t.outChannels, t.eightBit)) {
      p.stopRequested = true;
      t.end = TrackEnd::kOutputOpenFailed;
      return false;
    }
    p.openRate = rate;
    p.openChannels = t.outChannels;
    p.volume = sharedSetting(settings.EqVolume);
    outputSystem.setVolume(p.volume);
    ctx.outRate = rate;
    ctx.outChannels = t.outChannels;
    ctx.outBits = outBits;
  }
  if (t.justStarted) startOutputStage(p, t);
  t.justStarted = false;
  return true;
}

// Without records wanted, the blocks still move the clock records are stamped
// with, so one made after a switch mid-track has the right position.
bool countBlockWithoutRecord(int32_t blockBytes, int32_t, int32_t) {
  setVisByteCounter(visByteCounter() + static_cast<uint64_t>(blockBytes > 0 ? blockBytes : 0));
  return false;
}

// The sound device is filled in bursts: once every buffer is queued the
// decoder sleeps until half of them came back (or a command, a stop, a
// failure or the close of the device ends the wait), then decodes into the
// free half at once, warm, instead of a frame per buffer. The 1 s limit only
// lets the loop look at abandon again; a pause sleeps here in 1 s steps.
// Other outputs cannot wake a waiter: they get a 1 ms nap per frame once
// half full, as does the sound device while far ahead of real time.
// A device that takes sound faster than it plays (ALSA's null PCM) never
// fills; past this much ahead of real time it gets the naps as well, so
// such a device is not fed at full decoding speed.
constexpr uint64_t kAheadBeforeNapsUs = 3000000;

void paceOutput(Player& p, const Track& t) {
  if (t.bufferCount <= 0) return;
  const int32_t half = t.bufferCount / 2 > 0 ? t.bufferCount / 2 : 1;
  const int32_t free = outputSystem.getFreeBufferCount();
  if (!outputWaitsForBuffers()) {
    if (free < half) waitForFreeBuffers(half, 1);
    return;
  }
  if (free > 0) {
    if (free >= half) return;
    const auto passed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - p.paceStart).count();
    if (p.pacedUs > static_cast<uint64_t>(passed) + kAheadBeforeNapsUs)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return;
  }
  while (!engine.abandon.load() && waitForFreeBuffers(half, 1000) == 0) {
  }
}

// Microseconds of sound in the current frame.
uint64_t frameMicroseconds(const FrameContext& ctx) {
  const int32_t samples = ctx.layer == 1 ? 384 : (ctx.layer == 3 && ctx.lsf ? 576 : 1152);
  const int32_t rate = kSampleRates[ctx.sampleRateIndex];
  return rate > 0 ? static_cast<uint64_t>(samples) * 1000000u / static_cast<uint64_t>(rate) : 0;
}

// Decodes the frame just read; after a decoded frame follows the volume and
// priority settings, paces against the output and reports progress.
Step decodeCurrentFrame(Player& p, Track& t) {
  FrameContext& ctx = p.ctx;
  p.decoder.vis.countBlock = visWanted.load(std::memory_order_relaxed) ? visCountBlock : countBlockWithoutRecord;
  const int result = ctx.decodeFrame ? ctx.decodeFrame(ctx) : kFrameSkipped;
  const bool primed = p.primeLeft > 0;
  if (primed && --p.primeLeft == 0) {
    p.decoder.pcm.fill = 0;
    p.decoder.pcm.write = writeTrimmed;
    clearVisQueue();
    setVisByteCounter(p.visAtSeek);
  }
  if (result == kFrameWriteFailed) {
    // A stop during a blocked write is no failure of the output.
    if (engine.abandon.load()) return Step::kNextFrame;
    // One box, and the output is closed: writing on into a device that
    // refused data would only fail again, track after track.
    platform::messageBox("KUVec2 Error: Could not write audio data\nDevice is full?", "KUVec2 Error Message...",
                         kEngineBoxStyle);
    p.decoder.pcm.fill = 0;
    closeOutputDevice(p, 1);
    t.end = TrackEnd::kWriteFailed;
    return Step::kLeave;
  }
  if (result < 0) return Step::kNextFrame;
  t.decodedAny = true;
  if (primed) return Step::kGoOn;
  followStreamTags(p);
  followFrameIndex(p);
  followVolume(p);
  const int32_t priority = sharedSetting(settings.DecoderPriority);
  if (priority != p.priority) {
    p.priority = priority;
    setThreadPriority(p.priority);
  }
  ++p.frameCounter;
  engine.frameCounter.store(p.frameCounter, std::memory_order_relaxed);
  p.pacedUs += frameMicroseconds(ctx);
  paceOutput(p, t);
  if (p.frameCounter % 2 == 0) postProgress(p.frameCounter);
  return Step::kGoOn;
}

// Reads, routes and decodes frames until the stream ends or a command or
// failure ends the track.
void playFrames(Player& p, Track& t) {
  InputStream& s = *engine.stream;
  FrameContext& ctx = p.ctx;
  while (readFrameTellingUser(s, ctx)) {
    const Step command = takeCommand(p, t);
    if (command == Step::kLeave) break;
    if (command == Step::kNextFrame) continue;
    if (ctx.crcPresent) getBits(*ctx.bits, 16);
    if ((t.justStarted || ctx.headerChanged) && !followFormat(p, t)) break;
    if (decodeCurrentFrame(p, t) == Step::kLeave) break;
  }
}

// Closes the input and tells the receiver how the track ended. False when
// the thread must end.
bool finishTrack(Player& p, const Track& t) {
  InputStream& s = *engine.stream;
  // Read before the close forgets what kind of input it was.
  const bool emptyFile = s.regular && s.size == 0;
  p.scan.stop();
  closeStream(s);
  engine.playing.store(0);
  if (t.end == TrackEnd::kQuit) return false;
  // A stop asked for while the last frames were read is still a stop.
  if (engine.abandon.load() || t.end == TrackEnd::kStopped) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    outputSystem.flush();
    p.decoder.pcm.fill = 0;
  } else if (t.end == TrackEnd::kOutputOpenFailed) {
    postNotification(ENGINE_OPEN_FAILED, kOpenFailedOutput);
  } else if (t.end == TrackEnd::kWriteFailed) {
    sendNotification(ENGINE_TRACK_ENDED, kTrackOutputFailed);
  } else {
    // A trimmed track's end goes out through its gate now, so the next
    // track's trim starts on its own samples.
    if (p.gate.active && p.decoder.pcm.fill > 0 && !pcmMakeRoom(p.decoder.pcm, kPcmStagingBytes))
      p.decoder.pcm.fill = 0;
    if (!t.decodedAny && !s.userTold && !p.quiet) tellNoAudio(p.name, emptyFile);
    sendNotification(ENGINE_TRACK_ENDED, t.decodedAny ? kTrackEndedNormally : kTrackNoAudio);
  }
  return true;
}

// Plays the named input. Returns false when the thread must end.
bool runTrack(Player& p) {
  Track t = readTrackSettings();
  p.stopRequested = false;
  p.frameCounter = 0;
  engine.frameCounter.store(0, std::memory_order_relaxed);
  p.primeLeft = 0;
  p.decoder.pcm.write = writeTrimmed;
  p.paceStart = Clock::now();
  p.pacedUs = 0;
  if (!prepareOutput(p, t)) return true;
  prepareDecoder(p, t);
  if (!openTrackInput(p)) return true;
  playFrames(p, t);
  return finishTrack(p, t);
}

void decoderThread() {
  pthread_setname_np(pthread_self(), "kuv-decoder");
  auto player = std::make_unique<Player>();
  Player& p = *player;
  p.priority = sharedSetting(settings.DecoderPriority);
  setThreadPriority(p.priority);
  p.system = sharedSetting(settings.AudioOutputSystem);
  selectOutputSystem(p.system);
  p.volume = sharedSetting(settings.EqVolume);
  outputSystem.setVolume(p.volume);
  p.eightBit = sharedSetting(settings.AudioOutput8Bit);
  p.decoder.pcm.fill = 0;
  p.decoder.pcm.write = writeTrimmed;
  p.decoder.pcm.writeContext = &p.gate;
  p.decoder.pcm.abandon = &engine.abandon;
  p.decoder.vis = {visCountBlock, visPositionMs, pushVisFrame};

  platform::ThreadMessage message;
  while (engine.queue.get(&message)) {
    switch (message.message) {
      case ENGINE_PLAY_FILE:
      case ENGINE_PLAY_FILE_QUIETLY:
      case ENGINE_PLAY:
        if (message.message != ENGINE_PLAY) p.name = takeName(message);
        // The user's Play (ENGINE_PLAY) wants to hear why a name fails.
        p.quiet = message.message == ENGINE_PLAY_FILE_QUIETLY;
        beginCommand(message);
        if (!runTrack(p)) goto end;
        break;
      case ENGINE_STOP:
        stopTaken();
        break;
      case ENGINE_CLOSE_OUTPUT:
        if (outputSystem.isOpen() && message.lParam == 0) drainStaging(p);
        closeOutputDevice(p, static_cast<int32_t>(message.lParam));
        if (!outputSystem.shutdown()) {
          platform::messageBox("KUVec2: Error on Audio System Shutdown!", "Error...", kEngineBoxStyle);
        }
        p.decoder.pcm.fill = 0;
        break;
      case ENGINE_SETTINGS_CHANGED: {
        const int32_t priority = sharedSetting(settings.DecoderPriority);
        if (priority != p.priority) {
          p.priority = priority;
          setThreadPriority(p.priority);
        }
        break;
      }
      default:
        discard(message);
        break;
    }
  }
end:
  closeStream(*engine.stream);
  if (outputSystem.isOpen && outputSystem.isOpen()) outputSystem.close(1);
  // Names of play commands that never ran.
  while (engine.queue.peek(&message)) discard(message);
  engine.queue.close();
  engine.ended.store(1);
}

// A decoder asleep until the output has room takes the command at once.
int32_t postCommand(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  const bool posted = platform::postRetry(engine.queue, message, wParam, lParam);
  wakeFreeBufferWait();
  return posted ? 1 : 0;
}

constexpr unsigned kStreamBoxStyle = platform::MB_ICONWARNING | platform::MB_SETFOREGROUND;

// Every box about the track goes through here, so the track's end knows
// the user has heard about it.
int streamBox(InputStream& s, const char* text, const char* title, unsigned style) {
  s.userTold = true;
  return platform::messageBox(text, title, style | kStreamBoxStyle);
}

void tellReadError(InputStream& s, ReadError error) {
  switch (error) {
    case ReadError::kNone:
      return;
    case ReadError::kNotMpeg:
      streamBox(s, kNotMpegText, kSyncErrorTitle, platform::MB_OK);
      return;
    case ReadError::kSyncLost:
      streamBox(s, kNoSyncText, kSyncErrorTitle, platform::MB_OK);
      return;
    case ReadError::kUnmeasurableFree:
      answerResync(s, streamBox(s, kInvalidBitrateText, kStreamErrorTitle, platform::MB_YESNO) == platform::IDYES);
      return;
  }
}

}  // namespace

int readFrameTellingUser(InputStream& s, FrameContext& ctx) {
  // One left by a read outside this loop: the seek reads frames ahead.
  tellReadError(s, takeReadError(s));
  for (;;) {
    if (readFrame(s, ctx)) return 1;
    const ReadError error = takeReadError(s);
    tellReadError(s, error);
    if (!isRecoverable(error)) return 0;
  }
}

int32_t niceForPriority(int32_t decoderPriority) {
  switch (decoderPriority) {
    case 0:
      return 10;  // lowest
    case 1:
      return 5;  // below normal
    case 3:
      return -5;  // above normal
    case 4:
      return -10;  // highest
    case 5:
      return -20;  // time-critical
    default:
      return 0;  // normal
  }
}

int32_t startEngine(const NotificationSink& sink) {
  if (engine.thread.joinable()) return -1;
  engine.sink = sink;
  engine.abandon.store(0);
  engine.pendingStops.store(0);
  engine.progressPending.store(0);
  engine.quitting.store(0);
  engine.ended.store(0);
  if (!engine.stream) engine.stream = std::make_unique<InputStream>();
  // Open before the thread runs, so no command posted from now on is lost.
  engine.queue.open();
  try {
    engine.thread = std::thread(decoderThread);
  } catch (const std::system_error&) {
    engine.queue.close();
    return -1;
  }
  engine.id = nextEngineId++;
  return engine.id;
}

void shutdownEngine() {
  if (!engine.thread.joinable()) return;
  engine.abandon.store(1);
  engine.quitting.store(1);
  platform::postRetry(engine.queue, platform::WM_QUIT);
  wakeFreeBufferWait();
  if (engine.sink.release) engine.sink.release(engine.sink.context);
  abortUrl(engine.stream->url);
  // A write blocked on a paused device is released by letting it play;
  // failing that, by dropping what it waits behind.
  const Clock::time_point start = Clock::now();
  bool resumed = false, flushed = false;
  while (!engine.ended.load() && Clock::now() - start < std::chrono::milliseconds(3000)) {
    const auto waited = Clock::now() - start;
    if (!resumed && waited > std::chrono::milliseconds(100)) {
      resumed = true;
      outputResume();
    }
    if (!flushed && waited > std::chrono::milliseconds(500)) {
      flushed = true;
      outputFlush();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  engine.thread.join();
  engine.playing.store(0);
}

namespace {
uint32_t nextTicket() {
  uint32_t ticket = engine.lastTicket.fetch_add(1) + 1;
  if (ticket > 0x7FFFFFFFu) {  // tickets stay positive as int32_t
    engine.lastTicket.store(1);
    ticket = 1;
  }
  return ticket;
}
}  // namespace

int32_t play(const std::string& name) {
  auto* copy = new std::string(name);
  const uint32_t ticket = nextTicket();
  if (postCommand(ENGINE_PLAY_FILE, ticket, reinterpret_cast<intptr_t>(copy))) return static_cast<int32_t>(ticket);
  delete copy;
  return 0;
}

int32_t playQuietly(const std::string& name) {
  auto* copy = new std::string(name);
  const uint32_t ticket = nextTicket();
  if (postCommand(ENGINE_PLAY_FILE_QUIETLY, ticket, reinterpret_cast<intptr_t>(copy)))
    return static_cast<int32_t>(ticket);
  delete copy;
  return 0;
}

int32_t play() {
  const uint32_t ticket = nextTicket();
  return postCommand(ENGINE_PLAY, ticket, 0) ? static_cast<int32_t>(ticket) : 0;
}

// Takes effect at once, not only when the thread reads the message: a
// connecting URL gives up, a stalled download is cut (its reader then sees
// the end of the stream), a wait for room in the output ends.
int32_t stop() {
  engine.pendingStops.fetch_add(1);
  engine.abandon.store(1);
  if (engine.stream) abortUrl(engine.stream->url);
  if (postCommand(ENGINE_STOP, 0, 1)) return 1;
  engine.pendingStops.fetch_sub(1);
  return 0;
}

int32_t closeOutput() { return postCommand(ENGINE_CLOSE_OUTPUT, 0, 0); }
int32_t seekFrame(uint32_t frame) { return postCommand(ENGINE_SEEK, 0, static_cast<intptr_t>(frame)); }
int32_t seekMilliseconds(uint32_t milliseconds) {
  return postCommand(ENGINE_SEEK, 1, static_cast<intptr_t>(milliseconds));
}
int32_t settingsChanged() { return postCommand(ENGINE_SETTINGS_CHANGED, 0, 0); }

void setProgressQuiet(uint32_t ticket, uint32_t from, uint32_t to) {
  std::lock_guard<std::mutex> hold(engine.quietLock);
  engine.quietTicket = ticket;
  engine.quietFrom = from;
  engine.quietTo = to;
}

uint32_t framesDecoded() { return engine.frameCounter.load(std::memory_order_relaxed); }

void progressTaken() { engine.progressPending.store(0); }

void setVisualisationWanted(bool wanted) { visWanted.store(wanted); }
bool visualisationWanted() { return visWanted.load(); }

void setPlaybackInfoWatcher(void (*watcher)()) { infoWatcher.store(watcher); }

PlaybackInfo getPlaybackInfo() {
  PlaybackInfo info;
  info.playing = engine.playing.load();
  info.sampleRate = engine.sampleRate.load();
  info.layer = static_cast<uint8_t>(engine.layer.load());
  info.bitRate = static_cast<uint16_t>(engine.bitRate.load());
  info.stereo = engine.stereo.load();
  info.channels = engine.channels.load();
  return info;
}

}  // namespace kuv
