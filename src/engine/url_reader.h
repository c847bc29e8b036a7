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
// Asks the server to interleave the stream's titles (icy-metaint).
constexpr const char* kUrlIcyMetadataHeader = "Icy-MetaData: 1";
// A station's playlist (.pls, .m3u) is fetched whole, within these bounds.
constexpr size_t kUrlPlaylistMaxBytes = 1u << 20;
constexpr int kUrlPlaylistTimeoutMs = 10000;
constexpr const char* kUrlPlaylistTooLargeText = "The playlist is larger than 1 MiB.";
constexpr const char* kUrlPlaylistTooSlowText = "The playlist did not arrive within %d seconds.";
constexpr const char* kUrlHlsText = "HLS streams are not supported.";

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
  // How long a playlist may take to arrive once the server has answered.
  int playlistTimeoutMs = kUrlPlaylistTimeoutMs;
  // The last openUrl found a playlist, not audio: it fetched it and left it
  // for takeFetchedPlaylist, and returned -1 without a box.
  bool playlistFetched = false;
  // Transfer state private to url_reader.cpp; null while nothing is open.
  UrlTransfer* transfer = nullptr;
  // The owner's "give up" flag (its thread is asked to quit): when it turns
  // nonzero, the waits of openUrl end at once and the open fails quietly.
  const std::atomic<int>* abandon = nullptr;
  // One of a station's alternative streams: a failure to open it is not
  // shown, the next alternative is tried instead.
  bool quiet = false;
  // Guards `transfer` against abortUrl from another thread.
  std::mutex transferLock;
};

// Starts the download of url and waits until 8192 bytes have arrived or the
// download has ended. Returns the pipe's read end, or -1 after showing the
// failure in a box titled "Internet Error Message...". The reader keeps the
// read end; closeUrl closes the rest.
//
// The stream's station name and titles go to the stream tags board
// (stream_tags.h); its interleaved metadata never reaches the pipe nor the
// save copy. An answer that is a playlist (by its Content-Type, or by the
// name's .pls/.m3u/.m3u8 when the type says nothing specific) is fetched
// whole instead and left for takeFetchedPlaylist: -1, no box, and
// reader.playlistFetched set. An HLS list, a playlist over 1 MiB or one
// slower than playlistTimeoutMs fails with a box.
int openUrl(UrlReader& reader, const std::string& url);

// Whether the answer to `url` with this Content-Type is a playlist to fetch
// rather than audio to play.
bool isPlaylistAnswer(const std::string& contentType, const std::string& url);
// Whether a fetched M3U text is an HLS media or master playlist.
bool isHlsPlaylist(const std::string& text);

// The playlist the last openUrl fetched: the URL it came from (after any
// redirects) and its text. False when there is none; taking it empties the
// board. Any thread.
bool takeFetchedPlaylist(std::string& url, std::string& text);

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
