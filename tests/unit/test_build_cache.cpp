#include "build_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "cli.h"
#include "test_support.h"

namespace velmoran::pack {
namespace {

using testutil::TempDir;

void baseTree(const std::string& root) {
  mkdir(root.c_str(), 0755);
  mkdir((root + "/bin").c_str(), 0755);
  testutil::writeFile(root + "/bin/java", "#!/bin/sh\n");
  chmod((root + "/bin/java").c_str(), 0755);
  testutil::writeFile(root + "/release", "JAVA_VERSION=\"17\"\n");
}

struct TreeChange {
  const char* name;
  std::function<void(const std::string&)> apply;
};

class TreeDigestOf : public testing::TestWithParam<TreeChange> {};

// Whatever an archive of the tree would differ by changes the digest.
TEST_P(TreeDigestOf, ChangesWithWhatTheArchiveHolds) {
  TempDir dir;
  baseTree(dir / "a");
  const std::string before = treeDigest(dir / "a");
  GetParam().apply(dir / "a");
  EXPECT_NE(treeDigest(dir / "a"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, TreeDigestOf,
    testing::Values(
        TreeChange{"content", [](const std::string& r) { testutil::writeFile(r + "/release", "JAVA_VERSION=\"21\"\n"); }},
        TreeChange{"mode", [](const std::string& r) { chmod((r + "/bin/java").c_str(), 0644); }},
        TreeChange{"name", [](const std::string& r) { rename((r + "/release").c_str(), (r + "/release2").c_str()); }},
        TreeChange{"empty folder", [](const std::string& r) { mkdir((r + "/lib").c_str(), 0755); }},
        TreeChange{"empty file", [](const std::string& r) { testutil::writeFile(r + "/bin/empty", ""); }},
        // The bytes of one file moved into the next must not hash the same.
        TreeChange{"boundary",
                   [](const std::string& r) {
                     testutil::writeFile(r + "/bin/java", "#!/bin/sh");
                     testutil::writeFile(r + "/release", "\nJAVA_VERSION=\"17\"\n");
                   }}),
    [](const testing::TestParamInfo<TreeChange>& info) {
      std::string name = info.param.name;
      for (char& c : name) c = c == ' ' ? '_' : c;
      return name;
    });

TEST(TreeDigest, IgnoresTimesAndTheTreesPlace) {
  TempDir dir;
  baseTree(dir / "a");
  baseTree(dir / "b");
  const struct timespec old[2] = {{1000, 0}, {1000, 0}};
  utimensat(AT_FDCWD, (dir / "b/release").c_str(), old, 0);
  EXPECT_EQ(treeDigest(dir / "a"), treeDigest(dir / "b"));
  EXPECT_THROW(treeDigest(dir / "missing"), Failure);
}

struct Damage {
  const char* name;
  std::function<void(std::string&)> apply;
};

class CachedArchive : public testing::TestWithParam<Damage> {};

// A damaged entry is never used: it is removed, and the next store writes it afresh.
TEST_P(CachedArchive, DamagedIsIgnoredAndRewritten) {
  TempDir dir;
  const BuildCache cache(dir / "cache");
  const std::string archive(100000, 'z');
  testutil::writeFile(dir / "jre.p2.l2", archive);
  cache.storeArchive("k1", dir / "jre.p2.l2");
  ASSERT_TRUE(cache.fetchArchive("k1", dir / "out"));
  EXPECT_EQ(testutil::readFile(dir / "out"), archive);

  const std::string entry = dir / "cache/archives/k1.p2.l2";
  std::string bytes = testutil::readFile(entry);
  GetParam().apply(bytes);
  testutil::writeFile(entry, bytes);
  testutil::writeFile(dir / "out2", "before");
  EXPECT_FALSE(cache.fetchArchive("k1", dir / "out2"));
  EXPECT_FALSE(testutil::exists(entry));
  EXPECT_EQ(testutil::readFile(dir / "out2"), "before");

  cache.storeArchive("k1", dir / "jre.p2.l2");
  ASSERT_TRUE(cache.fetchArchive("k1", dir / "out3"));
  EXPECT_EQ(testutil::readFile(dir / "out3"), archive);
}

INSTANTIATE_TEST_SUITE_P(
    Damages, CachedArchive,
    testing::Values(Damage{"payload bit", [](std::string& b) { b[b.size() / 2] ^= 1; }},
                    Damage{"cut short", [](std::string& b) { b.resize(b.size() - 1); }},
                    Damage{"grown", [](std::string& b) { b += 'z'; }},
                    Damage{"digest", [](std::string& b) { b[30] = b[30] == 'a' ? 'b' : 'a'; }},
                    Damage{"magic", [](std::string& b) { b[0] = 'V'; }},
                    Damage{"header only", [](std::string& b) { b.resize(22 + 65); }},
                    Damage{"empty", [](std::string& b) { b.clear(); }}),
    [](const testing::TestParamInfo<Damage>& info) {
      std::string name = info.param.name;
      for (char& c : name) c = c == ' ' ? '_' : c;
      return name;
    });

TEST(CachedArchive, NoneWithoutAFolderOrAnEntry) {
  TempDir dir;
  testutil::writeFile(dir / "a", "bytes");
  const BuildCache none(std::nullopt);
  none.storeArchive("k", dir / "a");
  EXPECT_FALSE(none.fetchArchive("k", dir / "out"));
  const BuildCache cache(dir / "cache");
  EXPECT_FALSE(cache.fetchArchive("other", dir / "out"));
  EXPECT_FALSE(testutil::exists(dir / "out"));
}

TEST(CachedImage, MadeOnceReusedThenRemadeWhenChanged) {
  TempDir dir;
  const BuildCache cache(dir / "cache");
  int made = 0;
  const auto make = [&made](const std::string& out) {
    ++made;
    baseTree(out);
  };
  const BuildCache::Image first = cache.image("k", dir / "fallback", make);
  EXPECT_FALSE(first.reused);
  EXPECT_EQ(first.digest, treeDigest(first.folder));
  const BuildCache::Image second = cache.image("k", dir / "fallback", make);
  EXPECT_TRUE(second.reused);
  EXPECT_EQ(second.folder, first.folder);
  EXPECT_EQ(made, 1);

  // A file of the cached image changed since: made again, not used.
  testutil::writeFile(first.folder + "/release", "tampered");
  const BuildCache::Image third = cache.image("k", dir / "fallback", make);
  EXPECT_FALSE(third.reused);
  EXPECT_EQ(made, 2);
  EXPECT_EQ(testutil::readFile(third.folder + "/release"), "JAVA_VERSION=\"17\"\n");
  EXPECT_FALSE(testutil::exists(dir / "fallback"));
}

TEST(CachedImage, AFailedMakeLeavesNothingAndWithoutACacheTheFallbackIsUsed) {
  TempDir dir;
  const BuildCache cache(dir / "cache");
  EXPECT_THROW(cache.image("k", dir / "fallback", [](const std::string&) { fail("jlink failed"); }), Failure);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "cache/jlink"));

  const BuildCache none(std::nullopt);
  const BuildCache::Image image = none.image("k", dir / "fallback", baseTree);
  EXPECT_EQ(image.folder, dir / "fallback");
  EXPECT_FALSE(image.reused);
}

TEST(CachedText, RoundTripsAndRefusesWhatWasNotWrittenWhole) {
  TempDir dir;
  const BuildCache cache(dir / "cache");
  EXPECT_EQ(cache.fetchText("modules", "k"), std::nullopt);
  cache.storeText("modules", "k", "java.base,java.desktop");
  EXPECT_EQ(cache.fetchText("modules", "k"), "java.base,java.desktop");
  testutil::writeFile(dir / "cache/modules/k", "java.base,java.desk");
  EXPECT_EQ(cache.fetchText("modules", "k"), std::nullopt);
}

// One failing archive among several: its own failure is reported, not the
// others' stop.
TEST(ArchivesSideBySide, TheFirstFailureIsReportedAndNothingIsLeft) {
  TempDir dir;
  baseTree(dir / "tree");
  // Large enough that the good job is still writing when the other fails.
  testutil::writeFile(dir / "tree/big", std::string(8 << 20, 'x'));
  std::vector<ArchiveFileJob> jobs;
  jobs.push_back({dir / "tree", dir / "good.p2.l2", 6, {}, {}, {}});
  jobs.push_back({dir / "missing", dir / "bad.p2.l2", 6, {}, {}, {}});
  try {
    writeArchiveFiles(jobs, "compressing");
    ADD_FAILURE() << "no failure";
  } catch (const Failure& e) {
    EXPECT_NE(e.message.find("missing is not a folder"), std::string::npos) << e.message;
  }
  // The good one may have finished first; nothing of the failed one, and no
  // temporary file of either, is left.
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    if (e.path().filename() != "good.p2.l2") left.push_back(e.path().filename());
  }
  EXPECT_EQ(left, (std::vector<std::string>{"tree"}));

  jobs.pop_back();
  const std::vector<ArchiveStats> stats = writeArchiveFiles(jobs, "compressing");
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0].entries, 4);  // bin, bin/java, big, release
  EXPECT_TRUE(testutil::exists(dir / "good.p2.l2"));
}

}  // namespace
}  // namespace velmoran::pack
