#include "cli.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace velmoran::pack {
namespace {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void put(AtomicOutput& out, const std::string& text) {
  out.write(std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

enum class Before { kNothing, kFile, kLinkToFile };

struct Case {
  const char* name;
  Before before;
  bool commit;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class AtomicOutputCase : public testing::TestWithParam<Case> {};

// The output holds the new bytes exactly when committed, the old ones (or
// nothing) otherwise, a link stays a link, and no temporary file is left.
TEST_P(AtomicOutputCase, ReplacesWholeOnCommitAndLeavesNothingOtherwise) {
  const Case& c = GetParam();
  TempDir dir;
  const std::string target = dir / "out.bin";
  std::string path = target;
  std::vector<std::string> names;
  if (c.before != Before::kNothing) {
    writeFile(target, "old");
    names.push_back("out.bin");
  }
  if (c.before == Before::kLinkToFile) {
    path = dir / "link";
    ASSERT_EQ(symlink("out.bin", path.c_str()), 0);
    names.push_back("link");
  }
  {
    AtomicOutput out(path, 0640);
    put(out, "new bytes");
    if (c.commit) out.commit();
  }
  if (c.commit && c.before == Before::kNothing) names.push_back("out.bin");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(namesIn(dir.path()), names);
  if (c.commit) {
    EXPECT_EQ(readFile(target), "new bytes");
    EXPECT_EQ(testutil::modeOf(target), 0640);
  } else if (c.before != Before::kNothing) {
    EXPECT_EQ(readFile(target), "old");
  }
  if (c.before == Before::kLinkToFile) {
    EXPECT_TRUE(std::filesystem::is_symlink(path));
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, AtomicOutputCase,
                         testing::Values(Case{"NewCommitted", Before::kNothing, true},
                                         Case{"NewDropped", Before::kNothing, false},
                                         Case{"FileCommitted", Before::kFile, true},
                                         Case{"FileDropped", Before::kFile, false},
                                         Case{"LinkCommitted", Before::kLinkToFile, true},
                                         Case{"LinkDropped", Before::kLinkToFile, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AtomicOutput, WithoutReplaceAFileThatAppearedMeanwhileIsKept) {
  TempDir dir;
  const std::string path = dir / "key";
  AtomicOutput out(path, 0600, false);
  put(out, "new");
  writeFile(path, "theirs");
  try {
    out.commit();
    ADD_FAILURE() << "committed";
  } catch (const Failure& e) {
    EXPECT_EQ(e.message, path + " exists");
  }
  EXPECT_EQ(readFile(path), "theirs");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"key"});
}

TEST(AtomicOutput, AWriteErrorOnADeviceIsAFailure) {
  AtomicOutput out("/dev/full");
  put(out, "x");
  EXPECT_THROW(out.commit(), Failure);
}

TEST(Args, MissingValuesAndUnknownOptionsAreUsageErrors) {
  const std::vector<std::string> missing{"--output"};
  Args a(missing);
  EXPECT_THROW(a.option("--output"), UsageError);
  const std::vector<std::string> unknown{"--bogus"};
  Args b(unknown);
  EXPECT_THROW(b.positional(), UsageError);
}

}  // namespace
}  // namespace velmoran::pack
