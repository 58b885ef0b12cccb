// Random bytes from the system.
#include "platform/random.hpp"

#include <gtest/gtest.h>

namespace ruvo::platform {
namespace {

TEST(RandomBytesTest, GivesTheCountAsked) {
  auto bytes = platform::random_bytes(32);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 32u);
  EXPECT_NE(*bytes, *platform::random_bytes(32));
}

}  // namespace
}  // namespace ruvo::platform
