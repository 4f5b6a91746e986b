// What every unit test runs with.
#include <gtest/gtest.h>

#include "util/clock.h"

namespace {

// Every pause before a retry (a rename, an LSO file, a launch properties
// file) takes a millisecond: the retries are under test, not their pauses.
class ShortRetryPauses : public testing::Environment {
 public:
  void SetUp() override { velmoran::setRetryPauseForTests(1); }
};

const testing::Environment* const kShortRetryPauses = testing::AddGlobalTestEnvironment(new ShortRetryPauses);

}  // namespace
