// Engine notifications delivered into a thread's message queue, for a front
// end that runs its own loop (kuv-decode; later the desktop integration).
// A sent notification holds the engine until the loop has handled it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/decoder_thread.h"
#include "platform/message_queue.h"

namespace kuv {

struct NotificationQueue {
  platform::MessageQueue queue;
  std::mutex lock;
  std::condition_variable handled;
  uint64_t sent = 0;
  uint64_t done = 0;
  bool released = false;
  // False (set before the engine starts): posted progress reports are
  // dropped unread, and, never taken, stop the engine posting more. For a
  // loop that shows no progress: its thread is not woken for nothing.
  bool wantsProgress = true;
};

// The sink to start the engine with; the queue must outlive the engine.
NotificationSink queueSink(NotificationQueue& q);

// Which notifications the engine sends (and waits for) rather than posts.
bool isSentNotification(uint32_t message, intptr_t lParam);
bool isEngineNotification(uint32_t message);

// The loop has handled a message taken from the queue: a sent notification
// lets the engine go on, a progress report lets it post the next. Every
// message taken goes through here, late reports included.
void messageHandled(NotificationQueue& q, const platform::ThreadMessage& message);

}  // namespace kuv
