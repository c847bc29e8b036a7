#include "engine/url_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <vector>

#include "config/settings.h"
#include "engine/curl_library.h"
#include "engine/icy_metadata.h"
#include "engine/stream_tags.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/pipe.h"

namespace kuv {

namespace {

constexpr long kConnectTimeoutMs = 15000;
constexpr long kMaxRedirects = 10;
constexpr int kPollMs = 100;
// Longest ICY header block we are willing to strip; past it the bytes are
// played as they are rather than held back forever.
constexpr size_t kIcyHeaderLimit = 16384;
// Longest status line kept for a message.
constexpr size_t kStatusLineLimit = 200;

enum class IcyState { Undecided, Stripping, Audio };

}  // namespace

struct UrlTransfer {
  UrlReader* reader = nullptr;
  curl_slist* headers = nullptr;
  char errorText[CURL_ERROR_SIZE] = {};
  int stopEvent = -1;
  std::atomic<int> stopping{0};
  int saveFile = platform::kInvalidHandle;
  std::string savePath;  // empty: no copy is saved
  // When the network last gave us something, or the pipe last took it.
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();

  // Driven by whichever thread runs the transfer: the opener until the
  // download thread starts, that thread afterwards.
  bool headersDone = false;
  bool transferDone = false;
  CURLcode result = CURLE_OK;
  bool writeFailed = false;
  // Audio that arrived before the pipe existed; goes in first.
  std::string pending;
  IcyState icy = IcyState::Undecided;
  std::string held;        // body start kept back while deciding about ICY
  std::string icyRefusal;  // status line of an ICY answer other than 2xx
  std::string statusLine;  // of the last HTTP answer, for its reason phrase
  // From the answer's header lines (HTTP or the ICY block), of the last
  // answer when there were redirects.
  uint32_t metaInterval = 0;
  std::string station;
  std::string contentType;  // lower case, without parameters
  // The audio's way through the metadata, set up at the body's first byte.
  IcyDemuxer demux;
  std::string title;
  std::string demuxed;
  std::vector<std::string> blocks;
  // While a playlist is fetched: the body is kept whole, up to this many
  // bytes; past them the transfer ends and tooLarge is set.
  size_t pendingLimit = SIZE_MAX;
  bool tooLarge = false;
};

namespace {

CURLM* sessionOf(const UrlReader& r) { return static_cast<CURLM*>(r.session); }
CURL* requestOf(const UrlReader& r) { return static_cast<CURL*>(r.request); }

// Waits until the pipe takes data again or closeUrl asks us to stop.
bool waitWritable(UrlTransfer& t) {
  for (;;) {
    if (t.stopping.load()) return false;
    pollfd fds[2] = {{t.reader->pipeWrite, POLLOUT, 0}, {t.stopEvent, POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents & POLLIN) return false;
    // POLLERR (reader gone) falls through to the write, which reports EPIPE.
    return true;
  }
}

bool writePiece(UrlTransfer& t, const char* data, size_t n) {
  t.lastProgress = std::chrono::steady_clock::now();
  while (n > 0) {
    ssize_t put = ::write(t.reader->pipeWrite, data, n);
    if (put > 0) {
      data += put;
      n -= static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitWritable(t)) return false;
      // Time spent waiting for a paused or slow decoder is no stall.
      t.lastProgress = std::chrono::steady_clock::now();
      continue;
    }
    return false;  // EPIPE: the reader has closed its end
  }
  return true;
}

// Audio to the pipe in 512-byte pieces, each also appended to the save copy.
bool writeAudio(UrlTransfer& t, const char* data, size_t n) {
  while (n > 0) {
    size_t piece = std::min(n, static_cast<size_t>(kUrlPieceBytes));
    if (!writePiece(t, data, piece)) {
      t.writeFailed = true;
      return false;
    }
    t.reader->bytesReceived.fetch_add(static_cast<uint32_t>(piece));
    if (t.saveFile != platform::kInvalidHandle && !platform::writeAll(t.saveFile, data, piece)) {
      // A full disk ends the copy, not the stream.
      platform::closeHandle(t.saveFile);
      t.saveFile = platform::kInvalidHandle;
    }
    data += piece;
    n -= piece;
  }
  return true;
}

bool deliver(UrlTransfer& t, const char* data, size_t n) {
  if (n == 0) return true;
  if (t.reader->pipeWrite < 0) {
    if (n > t.pendingLimit - t.pending.size()) {
      t.tooLarge = true;
      return false;
    }
    t.pending.append(data, n);
    return true;
  }
  return writeAudio(t, data, n);
}

// The body from its first byte on: the metadata blocks are taken out, and
// a title that changed goes to the board.
bool takeAudio(UrlTransfer& t, const char* data, size_t n) {
  if (t.demux.interval == 0) return deliver(t, data, n);
  t.demuxed.clear();
  t.blocks.clear();
  feedIcyDemuxer(t.demux, data, n, t.demuxed, t.blocks);
  for (const std::string& block : t.blocks) {
    if (applyIcyMetadata(block, t.title)) publishStreamTags(StreamTags{t.station, t.title});
  }
  return deliver(t, t.demuxed.data(), t.demuxed.size());
}

// The header lines are all read: the body starts here.
void startAudio(UrlTransfer& t) {
  t.icy = IcyState::Audio;
  startIcyDemuxer(t.demux, t.metaInterval);
  if (!t.station.empty()) publishStreamTags(StreamTags{t.station, std::string()});
}

bool releaseHeld(UrlTransfer& t) {
  std::string held;
  held.swap(t.held);
  return takeAudio(t, held.data(), held.size());
}

std::string lowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// One "Name: value" line of an answer; the names that matter here.
void noteHeaderLine(UrlTransfer& t, const char* data, size_t n) {
  const std::string line(data, std::min(n, kIcyHeaderLimit));
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  const std::string name = lowerAscii(trimmed(line.substr(0, colon)));
  const std::string value = trimmed(line.substr(colon + 1));
  if (name == "icy-metaint") {
    t.metaInterval = parseIcyMetaInt(value);
  } else if (name == "icy-name") {
    t.station = safeStreamText(value);
  } else if (name == "content-type") {
    t.contentType = lowerAscii(trimmed(value.substr(0, value.find(';'))));
  }
}

// A new answer (after a redirect) starts with none of the last one's.
void forgetHeaders(UrlTransfer& t) {
  t.metaInterval = 0;
  t.station.clear();
  t.contentType.clear();
}

// Shoutcast servers answer "ICY 200 OK"; libcurl takes that for HTTP/0.9
// and hands the header lines over as body, so they are cut off here.
bool takeBody(UrlTransfer& t, const char* data, size_t n) {
  if (t.icy == IcyState::Audio) return takeAudio(t, data, n);
  t.held.append(data, n);
  if (t.icy == IcyState::Undecided) {
    if (t.held.size() < 4) return true;
    if (t.held.compare(0, 4, "ICY ") != 0) {
      startAudio(t);
      return releaseHeld(t);
    }
    t.icy = IcyState::Stripping;
  }
  size_t end = t.held.find("\r\n\r\n");
  if (end == std::string::npos || end + 4 > kIcyHeaderLimit) {
    if (t.held.size() < kIcyHeaderLimit) return true;
    startAudio(t);
    return releaseHeld(t);
  }
  std::string status = t.held.substr(0, t.held.find("\r\n"));
  int code = 0;
  for (size_t i = 4; i < status.size() && i < 7 && status[i] >= '0' && status[i] <= '9'; ++i) {
    code = code * 10 + (status[i] - '0');
  }
  if (code < 200 || code > 299) {
    t.icyRefusal = status;
    t.held.clear();
    return false;
  }
  forgetHeaders(t);
  for (size_t at = t.held.find("\r\n") + 2; at < end;) {
    const size_t lineEnd = t.held.find("\r\n", at);
    noteHeaderLine(t, t.held.data() + at, lineEnd - at);
    at = lineEnd + 2;
  }
  t.held.erase(0, end + 4);
  startAudio(t);
  return releaseHeld(t);
}

// At the end of the body: a start too short to decide on is audio; an
// unfinished ICY header block is not.
void finishBody(UrlTransfer& t) {
  if (t.icy == IcyState::Undecided) {
    startAudio(t);
    releaseHeld(t);
  }
  t.held.clear();
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<UrlTransfer*>(user);
  size_t n = size * count;
  t.lastProgress = std::chrono::steady_clock::now();
  // Anything short of n makes libcurl end the transfer with a write error.
  return takeBody(t, data, n) ? n : 0;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<UrlTransfer*>(user);
  size_t n = size * count;
  if (n > 5 && std::memcmp(data, "HTTP/", 5) == 0) {
    t.statusLine.assign(data, std::min(n, kStatusLineLimit));
    std::string& line = t.statusLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    forgetHeaders(t);
  } else {
    noteHeaderLine(t, data, n);
  }
  bool blank = (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
  if (blank) {
    long status = 0;
    curlApi().easy_getinfo(requestOf(*t.reader), CURLINFO_RESPONSE_CODE, &status);
    // A redirect is followed by another answer and an error fails the
    // transfer, so only a final success counts as "answered".
    if (status >= 200 && status < 300) t.headersDone = true;
  }
  return n;
}

// The server has answered: a final 2xx header block, or audio after an
// ICY (or HTTP/0.9) answer.
bool answered(const UrlTransfer& t) { return t.headersDone || t.icy == IcyState::Audio; }

void collectDone(UrlTransfer& t) {
  int left = 0;
  while (CURLMsg* msg = curlApi().multi_info_read(sessionOf(*t.reader), &left)) {
    if (msg->msg == CURLMSG_DONE) {
      t.transferDone = true;
      t.result = msg->data.result;
    }
  }
}

void signalStop(UrlTransfer& t) {
  t.stopping.store(1);
  if (t.stopEvent >= 0) {
    uint64_t one = 1;
    // Left unread: the event stays set, so every later wait ends at once.
    (void)!::write(t.stopEvent, &one, sizeof one);
  }
}

// Frees everything openUrl made, in any state of completion. The download
// thread must have ended.
void releaseTransfer(UrlReader& r) {
  UrlTransfer* t = r.transfer;
  if (r.pipeRead >= 0) {
    platform::closeHandle(r.pipeRead);
    r.pipeRead = -1;
  }
  if (r.pipeWrite >= 0 && !r.writeEndClosed.load()) platform::closeHandle(r.pipeWrite);
  r.pipeWrite = -1;
  if (CURLM* multi = sessionOf(r)) {
    if (CURL* easy = requestOf(r)) curlApi().multi_remove_handle(multi, easy);
  }
  if (CURL* easy = requestOf(r)) curlApi().easy_cleanup(easy);
  if (CURLM* multi = sessionOf(r)) curlApi().multi_cleanup(multi);
  r.request = nullptr;
  r.session = nullptr;
  if (t) {
    std::lock_guard<std::mutex> guard(r.transferLock);
    r.transfer = nullptr;
    if (t->headers) curlApi().slist_free_all(t->headers);
    if (t->stopEvent >= 0) ::close(t->stopEvent);
    platform::closeHandle(t->saveFile);
    delete t;
  }
  r.queue.close();
}

bool abandoned(const UrlReader& r) { return r.abandon && r.abandon->load(std::memory_order_relaxed) != 0; }

int fail(UrlReader& r, const std::string& text) {
  releaseTransfer(r);
  if (!r.quiet) platform::messageBox(text, kInternetErrorTitle, platform::MB_OK);
  return -1;
}

// The server or the network refused the URL: the box says which URL and why.
int failUrl(UrlReader& r, const std::string& reason) {
  const std::string format = kUrlFailedText;
  const size_t first = format.find("%s");
  const size_t second = format.find("%s", first + 2);
  return fail(r, format.substr(0, first) + r.url + format.substr(first + 2, second - first - 2) + reason +
                     format.substr(second + 2));
}

// "404 Not Found" of "HTTP/1.1 404 Not Found" or "ICY 404 Not Found".
std::string statusOf(const std::string& line) {
  const size_t space = line.find(' ');
  return space == std::string::npos ? line : line.substr(space + 1);
}

std::string transferErrorText(const UrlTransfer& t) {
  if (!t.icyRefusal.empty()) return "The server answered " + statusOf(t.icyRefusal);
  long status = 0;
  curlApi().easy_getinfo(requestOf(*t.reader), CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) {
    // The status line read last belongs to this answer (redirects before it
    // had their own); HTTP/2 has no reason phrase.
    std::string answer = statusOf(t.statusLine);
    if (answer.compare(0, std::to_string(status).size(), std::to_string(status)) != 0) answer = std::to_string(status);
    while (!answer.empty() && answer.back() == ' ') answer.pop_back();
    return "The server answered " + answer;
  }
  return t.errorText[0] ? std::string(t.errorText) : std::string(curlApi().easy_strerror(t.result));
}

bool setupRequest(UrlReader& r, UrlTransfer& t) {
  CURL* easy = curlApi().easy_init();
  CURLM* multi = curlApi().multi_init();
  r.request = easy;
  r.session = multi;
  if (!easy || !multi) return false;
  t.headers = curlApi().slist_append(nullptr, kUrlAcceptHeader);
  if (!t.headers) return false;
  curl_slist* both = curlApi().slist_append(t.headers, kUrlIcyMetadataHeader);
  if (!both) return false;
  t.headers = both;
  bool ok = curlApi().easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorText) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_URL, r.url.c_str()) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_USERAGENT, kUrlUserAgent) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_HTTP09_ALLOWED, 1L) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_FAILONERROR, 1L) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_WRITEDATA, &t) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader) == CURLE_OK &&
            curlApi().easy_setopt(easy, CURLOPT_HEADERDATA, &t) == CURLE_OK;
  return ok && curlApi().multi_add_handle(multi, easy) == CURLM_OK;
}

// Where the answer came from, after any redirects.
std::string effectiveUrl(const UrlReader& r) {
  char* where = nullptr;
  if (curlApi().easy_getinfo(requestOf(r), CURLINFO_EFFECTIVE_URL, &where) == CURLE_OK && where) return where;
  return r.url;
}

std::mutex fetchedLock;
bool fetchedReady = false;
std::string fetchedUrl;
std::string fetchedText;

// The answer is a playlist: the rest of it comes here on the opener's
// thread, whole and bounded, and is left on the board; nothing is played.
int fetchPlaylist(UrlReader& r, UrlTransfer& t) {
  t.pendingLimit = kUrlPlaylistMaxBytes;
  if (t.pending.size() > t.pendingLimit) t.tooLarge = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(r.playlistTimeoutMs);
  while (!t.transferDone && !t.tooLarge) {
    if (abandoned(r)) {
      releaseTransfer(r);
      return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      std::string text = kUrlPlaylistTooSlowText;
      text.replace(text.find("%d"), 2, std::to_string((r.playlistTimeoutMs + 999) / 1000));
      return failUrl(r, text);
    }
    curlApi().multi_poll(sessionOf(r), nullptr, 0, static_cast<int>(std::min<long long>(left.count(), kPollMs)),
                         nullptr);
    int running = 0;
    CURLMcode mc = curlApi().multi_perform(sessionOf(r), &running);
    if (mc != CURLM_OK) return failUrl(r, curlApi().multi_strerror(mc));
    collectDone(t);
  }
  if (!t.tooLarge && t.result != CURLE_OK) return failUrl(r, transferErrorText(t));
  finishBody(t);
  if (t.tooLarge) return failUrl(r, kUrlPlaylistTooLargeText);
  if (isHlsPlaylist(t.pending)) return failUrl(r, kUrlHlsText);
  {
    std::lock_guard<std::mutex> guard(fetchedLock);
    fetchedReady = true;
    fetchedUrl = effectiveUrl(r);
    fetchedText.swap(t.pending);
  }
  r.playlistFetched = true;
  releaseTransfer(r);
  return -1;
}

void downloadThread(UrlReader* reader) {
  pthread_setname_np(pthread_self(), "kuv-download");
  // A write into the pipe after the decoder has let go of it must come back
  // as EPIPE, not end the process: the signal is this thread's, and it is
  // blocked here whatever the program does with SIGPIPE.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  UrlReader& r = *reader;
  UrlTransfer& t = *r.transfer;
  if (!t.savePath.empty()) {
    t.saveFile = platform::createForWrite(t.savePath);
    if (t.saveFile == platform::kInvalidHandle) {
      platform::messageBox("URL Save file could NOT be created,\nData will NOT be saved...", "ERROR!",
                           platform::MB_OK | platform::MB_ICONWARNING);
    }
  }

  bool ok = true;
  if (!t.pending.empty()) {
    std::string first;
    first.swap(t.pending);
    ok = writeAudio(t, first.data(), first.size());
  }
  // closeUrl's stop event also ends a poll on a quiet server.
  curl_waitfd extra{t.stopEvent, CURL_WAIT_POLLIN, 0};
  t.lastProgress = std::chrono::steady_clock::now();
  const auto stallLimit = std::chrono::milliseconds(r.stallTimeoutMs);
  while (ok && !t.transferDone && !t.stopping.load()) {
    platform::ThreadMessage msg;
    if (r.queue.peek(&msg) && msg.message == platform::WM_QUIT) break;
    if (std::chrono::steady_clock::now() - t.lastProgress > stallLimit) break;  // a dead stream
    int running = 0;
    if (curlApi().multi_perform(sessionOf(r), &running) != CURLM_OK) break;
    collectDone(t);
    if (t.writeFailed) break;
    if (t.transferDone) {
      finishBody(t);
      break;
    }
    curlApi().multi_poll(sessionOf(r), &extra, 1, kPollMs, nullptr);
  }

  platform::closeHandle(r.pipeWrite);
  r.writeEndClosed.store(1);
  platform::closeHandle(t.saveFile);
  t.saveFile = platform::kInvalidHandle;
  r.done.store(1);
}

}  // namespace

int openUrl(UrlReader& reader, const std::string& url) {
  if (reader.transfer || reader.thread.joinable()) closeUrl(reader);
  reader.bytesReceived.store(0);
  reader.done.store(0);
  reader.writeEndClosed.store(0);
  reader.playlistFetched = false;
  reader.url = url;
  // Nothing of the transfer exists yet, so the failure frees nothing.
  std::string curlError;
  if (!loadCurlLibrary(curlError)) return failUrl(reader, curlError);

  // Complete before it is published: abortUrl may signal it from another
  // thread the moment it can see it.
  auto* transfer = new UrlTransfer;
  transfer->reader = &reader;
  transfer->stopEvent = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // The save copy's path is taken here, on the opener's thread, so the
  // download thread reads no settings.
  if (sharedSetting(settings.DownloadOption) == 1) {
    transfer->savePath = urlSavePath(sharedSettingText(settings.InternetDLDir), url);
  }
  {
    std::lock_guard<std::mutex> guard(reader.transferLock);
    reader.transfer = transfer;
  }
  UrlTransfer& t = *transfer;
  if (t.stopEvent < 0 || !setupRequest(reader, t)) return fail(reader, "Cannot Start Internet Session...");

  // Connect and wait for the answer here, so a refused connection or an
  // HTTP error is reported by openUrl itself.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(reader.responseTimeoutMs);
  for (;;) {
    int running = 0;
    CURLMcode mc = curlApi().multi_perform(sessionOf(reader), &running);
    if (mc != CURLM_OK) return failUrl(reader, curlApi().multi_strerror(mc));
    collectDone(t);
    if (t.transferDone || answered(t)) break;
    if (abandoned(reader)) {
      releaseTransfer(reader);
      return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      char text[96];
      std::snprintf(text, sizeof text, "No answer from the server within %.3g seconds.",
                    reader.responseTimeoutMs / 1000.0);
      return failUrl(reader, text);
    }
    curlApi().multi_poll(sessionOf(reader), nullptr, 0, static_cast<int>(std::min<long long>(left.count(), kPollMs)),
                         nullptr);
  }
  if (answered(t) && (isPlaylistAnswer(t.contentType, url) || isPlaylistAnswer(t.contentType, effectiveUrl(reader))))
    return fetchPlaylist(reader, t);
  // A transfer that broke off after the answer still plays what came.
  if (t.transferDone) {
    if (t.result != CURLE_OK && !answered(t)) return failUrl(reader, transferErrorText(t));
    finishBody(t);
  }

  int fds[2];
  if (!platform::createPipe(fds)) return fail(reader, "Cannot Create Download Buffer...");
  reader.pipeRead = fds[0];
  reader.pipeWrite = fds[1];
  // Only the write end: the decoder's reads stay blocking.
  int flags = fcntl(reader.pipeWrite, F_GETFL);
  if (flags < 0 || fcntl(reader.pipeWrite, F_SETFL, flags | O_NONBLOCK) != 0) {
    return fail(reader, "Cannot Create Download Buffer...");
  }

  reader.queue.open();
  try {
    reader.thread = std::thread(downloadThread, &reader);
  } catch (const std::system_error&) {
    return fail(reader, "Cannot Create Download Thread...");
  }

  while (reader.bytesReceived.load() < kUrlPrebufferBytes && !reader.done.load()) {
    if (abandoned(reader)) {
      closeUrl(reader);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return reader.pipeRead;
}

void closeUrl(UrlReader& reader) {
  if (reader.pipeRead >= 0) {
    platform::closeHandle(reader.pipeRead);
    reader.pipeRead = -1;
  }
  if (reader.thread.joinable()) {
    platform::postRetry(reader.queue, platform::WM_QUIT);
    if (reader.transfer) signalStop(*reader.transfer);
    if (reader.session) curlApi().multi_wakeup(sessionOf(reader));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kUrlStopWaitMs);
    while (!reader.done.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Every wait in the thread ends on the stop event or the wakeup, so
    // this join is short.
    reader.thread.join();
  }
  releaseTransfer(reader);
  reader.url.clear();
  reader.done.store(0);
  reader.writeEndClosed.store(0);
}

void abortUrl(UrlReader& reader) {
  std::lock_guard<std::mutex> guard(reader.transferLock);
  if (reader.transfer) signalStop(*reader.transfer);
}

bool isPlaylistAnswer(const std::string& contentType, const std::string& url) {
  static const char* const kPlaylistTypes[] = {"audio/x-scpls",         "audio/scpls",
                                               "audio/x-mpegurl",       "audio/mpegurl",
                                               "application/x-mpegurl", "application/vnd.apple.mpegurl"};
  const std::string type = lowerAscii(trimmed(contentType.substr(0, contentType.find(';'))));
  for (const char* playlistType : kPlaylistTypes)
    if (type == playlistType) return true;
  // Servers that name no type of their own leave it to the name.
  if (!type.empty() && type != "text/plain" && type != "application/octet-stream") return false;
  const std::string path = lowerAscii(url.substr(0, url.find_first_of("?#")));
  for (const char* suffix : {".pls", ".m3u", ".m3u8"}) {
    const size_t n = std::strlen(suffix);
    if (path.size() > n && path.compare(path.size() - n, n, suffix) == 0) return true;
  }
  return false;
}

bool isHlsPlaylist(const std::string& text) {
  for (const char* tag : {"#EXT-X-TARGETDURATION", "#EXT-X-MEDIA-SEQUENCE", "#EXT-X-STREAM-INF"})
    if (text.find(tag) != std::string::npos) return true;
  return false;
}

bool takeFetchedPlaylist(std::string& url, std::string& text) {
  std::lock_guard<std::mutex> guard(fetchedLock);
  if (!fetchedReady) return false;
  fetchedReady = false;
  url.swap(fetchedUrl);
  text.swap(fetchedText);
  fetchedUrl.clear();
  fetchedText.clear();
  return true;
}

std::string urlSavePath(const std::string& folder, const std::string& url) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += platform::lastPathComponent(url);
  return path;
}

void ignoreSigpipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace kuv
