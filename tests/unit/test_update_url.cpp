#include "net/update_url.h"

#include <gtest/gtest.h>

namespace velmoran {
namespace {

TEST(UpdateUrl, OnlyThePlaceholderPrefixAndNothingAreInvalid) {
  EXPECT_EQ(kPlaceholderUpdateUrl.size(), 18u);
  EXPECT_TRUE(isInvalidUpdateURL("http://127.0.0.255/"));
  EXPECT_TRUE(isInvalidUpdateURL("http://127.0.0.255"));
  EXPECT_TRUE(isInvalidUpdateURL("http://127.0.0.2550/updates/"));
  EXPECT_TRUE(isInvalidUpdateURL(""));
  EXPECT_FALSE(isInvalidUpdateURL("http://127.0.0.25/"));
  EXPECT_FALSE(isInvalidUpdateURL("http://127.0.0.1:8080/"));
  EXPECT_FALSE(isInvalidUpdateURL("https://127.0.0.255/"));
}

}  // namespace
}  // namespace velmoran
