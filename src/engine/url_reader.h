// The download side of a URL stream: a thread pulls the body over HTTP(S)
// with libcurl and pushes it into a pipe that the decoder reads like a file,
// optionally saving a copy.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/message_queue.h"

namespace kuv {

constexpr const char* kUrlUserAgent = "KUV 0.94";
constexpr const char* kUrlAcceptHeader = "Accept: audio/x-mpeg, audio/x-mpegurl, Audio/Mpeg-Url, */*";
constexpr const char* kInternetErrorTitle = "Internet Error Message...";
// A URL the server or the network refused: the URL, then the reason (the
// server's status, or the network's error).
constexpr const char* kUrlFailedText = "Could not open %s\n%s";
constexpr int kUrlPieceBytes = 512;
constexpr uint32_t kUrlPrebufferBytes = 8192;
constexpr int kUrlStopWaitMs = 2000;
constexpr int kUrlStallTimeoutMs = 30000;

struct UrlTransfer;

struct UrlReader {
  void* session = nullptr;  // CURLM*
  void* request = nullptr;  // CURL*
  int pipeRead = -1;
  int pipeWrite = -1;
  std::thread thread;
  platform::MessageQueue queue;  // the download thread's; takes WM_QUIT
  std::atomic<uint32_t> bytesReceived{0};
  std::atomic<int> done{0};
  std::atomic<int> writeEndClosed{0};
  std::string url;
  // How long openUrl waits for the server's answer; tests shorten it.
  int responseTimeoutMs = 15000;
  // A stream from which nothing arrives for this long (while the decoder
  // is ready for more) is dead: the download ends as after a read error.
  int stallTimeoutMs = kUrlStallTimeoutMs;
  // Transfer state private to url_reader.cpp; null while nothing is open.
  UrlTransfer* transfer = nullptr;
  // The owner's "give up" flag (its thread is asked to quit): when it turns
  // nonzero, the waits of openUrl end at once and the open fails quietly.
  const std::atomic<int>* abandon = nullptr;
  // Guards `transfer` against abortUrl from another thread.
  std::mutex transferLock;
};

// Starts the download of url and waits until 8192 bytes have arrived or the
// download has ended. Returns the pipe's read end, or -1 after showing the
// failure in a box titled "Internet Error Message...". The reader keeps the
// read end; closeUrl closes the rest.
int openUrl(UrlReader& reader, const std::string& url);

// Stops the download (within 2000 ms even when the server stalls or the pipe
// is full) and releases the pipe's write end and the transfer. The caller
// closes the read end first, as the stream does.
void closeUrl(UrlReader& reader);

// From any thread: stops the download at once, so that a reader blocked on
// the pipe of a stalled server sees the end of the stream.
void abortUrl(UrlReader& reader);

// Save-copy path for a URL: folder, a '/' unless it already ends in one, and
// the part of the URL after its last '/'.
std::string urlSavePath(const std::string& folder, const std::string& url);

// Ignores SIGPIPE so a write to a pipe whose reader has gone fails with
// EPIPE instead of ending the process. Called once at start-up.
void ignoreSigpipe();

}  // namespace kuv
