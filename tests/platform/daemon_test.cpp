// Waiting for a stop signal, with and without one.
#include "platform/daemon.hpp"

#include <chrono>
#include <csignal>

#include <pthread.h>

#include <gtest/gtest.h>

namespace ruvo::platform {
namespace {

TEST(StopSignalTest, WaitingAWhileGivesZeroWithoutASignalAndTheSignalWhenOneComes) {
  // Blocked in this thread only, and sent to this thread only: no other
  // thread of the test program can take it and die of it.
  sigset_t stop;
  sigset_t before;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &stop, &before), 0);
  EXPECT_EQ(platform::wait_for_stop_signal_for(std::chrono::milliseconds(10)), 0);
  EXPECT_EQ(platform::wait_for_stop_signal_for(std::chrono::milliseconds(0)), 0);
  for (int number : {SIGTERM, SIGINT}) {
    ASSERT_EQ(::pthread_kill(::pthread_self(), number), 0);
    EXPECT_EQ(platform::wait_for_stop_signal_for(std::chrono::seconds(30)), number);
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
}  // namespace ruvo::platform
