#include "format/launch_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace velmoran {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

// Fields 1 to 8 of a launch file of the given version.
std::string head(const std::string& version) {
  return version + "\0com.example.Main\0com.example.Update\0MyApp\0icon.icns\0" "1\0" "256\0" "0\0"s;
}

struct Read {
  LaunchFileReading reading;
  std::string rest;  // the next field after what the reader took
};

Read read(const std::string& bytes) {
  testutil::MemStream in(bytes);
  Read r;
  r.reading = readLaunchFile(in.stream);
  r.rest = readString(in.stream, "rest");
  return r;
}

// The fields after the extra arguments, each version reading its own and no more.
const std::string kLaterFields = "Compat\0Post\0Pre\0002\0-Da\0-Db\0001\0NEXT\0"s;

struct VersionCase {
  const char* version;
  const char* compatibility;
  const char* postInstall;
  const char* preUninstall;
  Strings appJvmOptions;
  bool mustFork;
  const char* next;  // the first field the reader left in the stream
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << "version " << c.version; }

class LaunchFileVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(LaunchFileVersion, ReadsExactlyTheFieldsOfItsVersion) {
  const VersionCase& c = GetParam();
  const Read r = read(head(c.version) + "0\0000\0"s + kLaterFields);
  const LaunchFile& f = r.reading.file;
  EXPECT_EQ(f.version, std::stoll(c.version));
  EXPECT_EQ(f.classOnUpdate, "com.example.Update");
  EXPECT_EQ(f.osIcns, "icon.icns");
  EXPECT_TRUE(f.urlRequired);
  EXPECT_EQ(f.compatibilityClass, c.compatibility);
  EXPECT_EQ(f.postInstallClass, c.postInstall);
  EXPECT_EQ(f.preUninstallClass, c.preUninstall);
  EXPECT_EQ(f.appJvmOptions, c.appJvmOptions);
  EXPECT_EQ(f.mustFork, c.mustFork);
  EXPECT_EQ(r.rest, c.next);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LaunchFileVersion,
    testing::Values(VersionCase{"0", "", "", "", {}, false, "Compat"},
                    VersionCase{"1", "", "", "", {}, false, "Compat"},
                    VersionCase{"2", "", "", "", {}, false, "Compat"},
                    VersionCase{"3", "Compat", "", "", {}, false, "Post"},
                    VersionCase{"4", "Compat", "Post", "Pre", {}, false, "2"},
                    VersionCase{"5", "Compat", "Post", "Pre", {"-Da", "-Db"}, false, "1"},
                    VersionCase{"6", "Compat", "Post", "Pre", {"-Da", "-Db"}, true, "NEXT"},
                    VersionCase{"7", "Compat", "Post", "Pre", {"-Da", "-Db"}, true, "NEXT"}));

struct CountCase {
  const char* name;
  std::string bytes;  // after the head of a version 5 file
  Strings classpath;
  Strings extraArgs;
  Strings appJvmOptions;
  LaunchFileCounts counts;
  bool classpathCutShort;
  bool extraArgsCutShort;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class LaunchFileCount : public testing::TestWithParam<CountCase> {};

TEST_P(LaunchFileCount, ListsEndAtTheirCountOrAtTheEndOfTheFile) {
  const CountCase& c = GetParam();
  const Read r = read(head("5") + c.bytes);
  const LaunchFileReading& g = r.reading;
  EXPECT_EQ(g.file.classpath, c.classpath);
  EXPECT_EQ(g.file.extraArgs, c.extraArgs);
  EXPECT_EQ(g.file.appJvmOptions, c.appJvmOptions);
  EXPECT_EQ(g.counts.classpath, c.counts.classpath);
  EXPECT_EQ(g.counts.extraArgs, c.counts.extraArgs);
  EXPECT_EQ(g.counts.appJvmOptions, c.counts.appJvmOptions);
  EXPECT_EQ(countCutShort(g.counts.classpath, g.file.classpath.size()), c.classpathCutShort);
  EXPECT_EQ(countCutShort(g.counts.extraArgs, g.file.extraArgs.size()), c.extraArgsCutShort);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, LaunchFileCount,
    testing::Values(
        CountCase{"ZeroAndNegativeMeanNone", "0\0-2\0C\0P\0Q\0-1\0"s, {}, {}, {}, {0, -2, -1}, false, false},
        CountCase{"EndingAfterAnEntryKeepsTheOneThatRanIntoIt", "3\0a.jar\0"s, {"a.jar", ""}, {}, {}, {3, 0, 0}, true, false},
        CountCase{"EndingInsideACountReadsNoEntries", "1\0x\0002"s, {"x"}, {}, {}, {1, 2, 0}, false, true},
        CountCase{"HugeCountInAShortFile", "1\0x\0001000000000000\0-a\0-b\0"s, {"x"}, {"-a", "-b", ""}, {},
                  {1, 1000000000000, 0}, false, true},
        CountCase{"ExactCountsAtTheEnd", "1\0x\0001\0y\0C\0P\0Q\0001\0z"s, {"x"}, {"y"}, {"z"}, {1, 1, 1}, false, false}));

}  // namespace
}  // namespace velmoran
