#include "platform/message_queue.h"

#include <chrono>
#include <thread>

namespace kuv::platform {

void MessageQueue::open() {
  std::lock_guard<std::mutex> guard(lock_);
  open_ = true;
  ever_opened_ = true;
}

void MessageQueue::close() {
  std::lock_guard<std::mutex> guard(lock_);
  open_ = false;
  messages_.clear();
}

bool MessageQueue::isOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return open_;
}

bool MessageQueue::hasEnded() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ever_opened_ && !open_;
}

bool MessageQueue::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!open_ || messages_.size() >= kMaxMessages) return false;
    messages_.push_back(ThreadMessage{message, wParam, lParam});
  }
  arrived_.notify_one();
  return true;
}

bool MessageQueue::get(ThreadMessage* out) {
  std::unique_lock<std::mutex> guard(lock_);
  arrived_.wait(guard, [this] { return !messages_.empty(); });
  *out = messages_.front();
  messages_.pop_front();
  return out->message != WM_QUIT;
}

bool MessageQueue::peek(ThreadMessage* out) {
  std::lock_guard<std::mutex> guard(lock_);
  if (messages_.empty()) return false;
  *out = messages_.front();
  messages_.pop_front();
  return true;
}

bool postRetry(MessageQueue& queue, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  for (;;) {
    if (queue.post(message, wParam, lParam)) return true;
    if (queue.hasEnded()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace kuv::platform
