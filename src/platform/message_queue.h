// Per-thread message queues with the post / get / peek meaning the engine's
// threads were designed around: commands are posted, a worker blocks in get
// when idle and peeks between frames while busy.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace kuv::platform {

constexpr uint32_t WM_QUIT = 0x0012;

struct ThreadMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// A thread's queue. It refuses posts until its owner opens it (a thread that
// has not reached its loop yet) and after the owner closes it (a thread that
// has ended), and while it holds kMaxMessages, like a full system queue.
class MessageQueue {
 public:
  static constexpr size_t kMaxMessages = 10000;

  void open();
  void close();
  bool isOpen() const;
  // Opened once and closed since: the owner has ended.
  bool hasEnded() const;

  // Non-blocking; false when the queue is closed or full.
  bool post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
  // Blocks until a message arrives. Returns false for WM_QUIT (the message is
  // still stored in *out), true for anything else.
  bool get(ThreadMessage* out);
  // Takes the first waiting message, if any, without blocking.
  bool peek(ThreadMessage* out);

 private:
  mutable std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<ThreadMessage> messages_;
  bool open_ = false;
  bool ever_opened_ = false;
};

// Posts, retrying every 10 ms while the queue is full or not opened yet.
// Gives up (returns false) once the owner has closed its queue for good,
// since a thread that has ended will never take the message.
bool postRetry(MessageQueue& queue, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);

}  // namespace kuv::platform
