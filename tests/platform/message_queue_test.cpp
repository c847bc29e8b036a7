#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kuv::platform {
namespace {

TEST(MessageQueue, DeliversInOrderAndPeekDoesNotBlock) {
  MessageQueue queue;
  ThreadMessage message;
  EXPECT_FALSE(queue.post(0x8100)) << "a queue takes nothing before its thread opens it";
  queue.open();
  EXPECT_FALSE(queue.peek(&message));
  ASSERT_TRUE(queue.post(0x8101, 1, 2));
  ASSERT_TRUE(queue.post(0x8102, 3, -4));
  ASSERT_TRUE(queue.peek(&message));
  EXPECT_EQ(message.message, 0x8101u);
  EXPECT_EQ(message.wParam, 1u);
  EXPECT_EQ(message.lParam, 2);
  ASSERT_TRUE(queue.get(&message));
  EXPECT_EQ(message.message, 0x8102u);
  EXPECT_EQ(message.lParam, -4);
}

TEST(MessageQueue, GetBlocksUntilAPostAndReportsQuit) {
  MessageQueue queue;
  queue.open();
  std::thread poster([&queue] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    queue.post(0x8105);
    queue.post(WM_QUIT);
  });
  ThreadMessage message;
  EXPECT_TRUE(queue.get(&message));
  EXPECT_EQ(message.message, 0x8105u);
  EXPECT_FALSE(queue.get(&message));
  EXPECT_EQ(message.message, WM_QUIT);
  poster.join();
}

TEST(MessageQueue, PostRetryWaitsForTheOwnerAndGivesUpWhenItHasEnded) {
  MessageQueue queue;
  std::thread owner([&queue] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.open();
  });
  EXPECT_TRUE(postRetry(queue, 0x8100));
  owner.join();
  ThreadMessage message;
  EXPECT_TRUE(queue.peek(&message));
  queue.close();
  EXPECT_TRUE(queue.hasEnded());
  EXPECT_FALSE(postRetry(queue, 0x8100));
}

TEST(MessageQueue, AFullQueueRefusesUntilItIsDrained) {
  MessageQueue queue;
  queue.open();
  for (size_t i = 0; i < MessageQueue::kMaxMessages; ++i) ASSERT_TRUE(queue.post(1));
  EXPECT_FALSE(queue.post(2));
  std::thread drainer([&queue] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ThreadMessage message;
    queue.peek(&message);
  });
  EXPECT_TRUE(postRetry(queue, 2));
  drainer.join();
}

}  // namespace
}  // namespace kuv::platform
