#include "session/notification_queue.h"

namespace kuv {

namespace {

void queueSend(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto& q = *static_cast<NotificationQueue*>(context);
  uint64_t ticket;
  {
    std::lock_guard<std::mutex> guard(q.lock);
    if (q.released) return;
    ticket = ++q.sent;
  }
  platform::postRetry(q.queue, message, wParam, lParam);
  std::unique_lock<std::mutex> guard(q.lock);
  q.handled.wait(guard, [&] { return q.done >= ticket || q.released; });
}

void queuePost(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  auto& q = *static_cast<NotificationQueue*>(context);
  if (message == ENGINE_PROGRESS && !q.wantsProgress) return;
  platform::postRetry(q.queue, message, wParam, lParam);
}

void queueRelease(void* context) {
  auto& q = *static_cast<NotificationQueue*>(context);
  std::lock_guard<std::mutex> guard(q.lock);
  q.released = true;
  q.handled.notify_all();
}

}  // namespace

NotificationSink queueSink(NotificationQueue& q) {
  return NotificationSink{queueSend, queuePost, queueRelease, &q, true};
}

bool isSentNotification(uint32_t message, intptr_t lParam) {
  return message == ENGINE_TRACK_ENDED || message == ENGINE_TRACK_STARTED ||
         (message == ENGINE_PROGRESS && lParam == 0);
}

bool isEngineNotification(uint32_t message) {
  return message == ENGINE_TRACK_ENDED || message == ENGINE_TRACK_STARTED || message == ENGINE_PROGRESS ||
         message == ENGINE_OPEN_FAILED || message == ENGINE_STREAM_TAGS || message == ENGINE_TRACK_LENGTH;
}

void messageHandled(NotificationQueue& q, const platform::ThreadMessage& message) {
  // The loop has read the counter: the engine may post the next one.
  if (message.message == ENGINE_PROGRESS) progressTaken();
  if (!isSentNotification(message.message, message.lParam)) return;
  std::lock_guard<std::mutex> guard(q.lock);
  ++q.done;
  q.handled.notify_all();
}

}  // namespace kuv
