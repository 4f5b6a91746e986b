#include "launch_file_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "cli.h"
#include "test_support.h"

namespace velmoran::pack {
namespace {

using namespace std::string_literals;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Every field set, each list with two entries.
LaunchFile full(int64_t version) {
  LaunchFile f;
  f.version = version;
  f.mainClass = "com.example.Main";
  f.classOnUpdate = "com.example.Update";
  f.appName = "myapp";
  f.osIcns = "icon.icns";
  f.urlRequired = true;
  f.jvmMem = 512;
  f.jvmStack = 64;
  f.classpath = {"lib/*", "app.jar"};
  f.extraArgs = {"--mode", ""};
  if (version >= kVersionWithCompatibilityClass) f.compatibilityClass = "com.example.Compat";
  if (version >= kVersionWithInstallClasses) {
    f.postInstallClass = "com.example.Post";
    f.preUninstallClass = "com.example.Pre";
  }
  if (version >= kVersionWithAppJvmOptions) f.appJvmOptions = {"-Xss2m", "--add-opens=java.base/java.lang=ALL-UNNAMED"};
  if (version >= kVersionWithMustFork) f.mustFork = true;
  return f;
}

TEST(LaunchFileWriter, Version6FileIsTheDocumentedFieldsInOrder) {
  const std::string expected =
      "6\0com.example.Main\0com.example.Update\0myapp\0icon.icns\0"
      "1\0" "512\0" "64\0"
      "2\0lib/*\0app.jar\0"
      "2\0--mode\0\0"
      "com.example.Compat\0com.example.Post\0com.example.Pre\0"
      "2\0-Xss2m\0--add-opens=java.base/java.lang=ALL-UNNAMED\0"
      "1\0"s;
  EXPECT_EQ(text(writeLaunchFile(full(6))), expected);
}

TEST(LaunchFileWriter, LsoFileIsTheCountAndTheOptions) {
  EXPECT_EQ(text(writeLsoFile(LsoFile{{"-Xss2m", "-Dx=a b"}})), "2\0-Xss2m\0-Dx=a b\0"s);
  EXPECT_EQ(text(writeLsoFile(LsoFile{})), "0\0"s);
}

struct RoundTrip {
  const char* name;
  LaunchFile file;
};

void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.name; }

class LaunchFileRoundTrip : public testing::TestWithParam<RoundTrip> {};

// The reader takes back exactly what was written and nothing more.
TEST_P(LaunchFileRoundTrip, ReadsBackWhatWasWritten) {
  const LaunchFile& w = GetParam().file;
  testutil::MemStream in(text(writeLaunchFile(w)));
  const LaunchFileReading reading = readLaunchFile(in.stream);
  const LaunchFile& r = reading.file;
  EXPECT_EQ(r.version, w.version);
  EXPECT_EQ(r.mainClass, w.mainClass);
  EXPECT_EQ(r.classOnUpdate, w.classOnUpdate);
  EXPECT_EQ(r.appName, w.appName);
  EXPECT_EQ(r.osIcns, w.osIcns);
  EXPECT_EQ(r.urlRequired, w.urlRequired);
  EXPECT_EQ(r.jvmMem, w.jvmMem);
  EXPECT_EQ(r.jvmStack, w.jvmStack);
  EXPECT_EQ(r.classpath, w.classpath);
  EXPECT_EQ(r.extraArgs, w.extraArgs);
  EXPECT_EQ(r.compatibilityClass, w.compatibilityClass);
  EXPECT_EQ(r.postInstallClass, w.postInstallClass);
  EXPECT_EQ(r.preUninstallClass, w.preUninstallClass);
  EXPECT_EQ(r.appJvmOptions, w.appJvmOptions);
  EXPECT_EQ(r.mustFork, w.mustFork);
  EXPECT_EQ(std::fgetc(in.stream), EOF);
}

LaunchFile longestTexts() {
  LaunchFile f = full(6);
  f.mainClass = std::string(kLaunchTextMaxLength, 'c');
  f.classpath = {std::string(kLaunchTextMaxLength, 'p')};
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LaunchFileRoundTrip,
    testing::Values(RoundTrip{"Version1", full(1)}, RoundTrip{"Version2", full(2)}, RoundTrip{"Version3", full(3)},
                    RoundTrip{"Version4", full(4)}, RoundTrip{"Version5", full(5)}, RoundTrip{"Version6", full(6)},
                    RoundTrip{"LongestTexts", longestTexts()}));

struct Refusal {
  const char* name;
  LaunchFile file;
  const char* message;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

LaunchFile with(void (*change)(LaunchFile&), int64_t version = 6) {
  LaunchFile f = full(version);
  change(f);
  return f;
}

class LaunchFileRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(LaunchFileRefusal, RefusesWhatTheLauncherWouldMisreadOrCannotStart) {
  try {
    writeLaunchFile(GetParam().file);
    ADD_FAILURE() << "written";
  } catch (const UsageError& e) {
    EXPECT_NE(e.message.find(GetParam().message), std::string::npos) << e.message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, LaunchFileRefusal,
    testing::Values(
        Refusal{"VersionZero", full(0), "version must be 1 to 6"},
        Refusal{"VersionSeven", full(7), "version must be 1 to 6"},
        Refusal{"NoMainClass", with([](LaunchFile& f) { f.mainClass.clear(); }), "needs a main class"},
        Refusal{"AppNameWithSlash", with([](LaunchFile& f) { f.appName = "../java"; }), "plain file name"},
        Refusal{"AppNameDotDot", with([](LaunchFile& f) { f.appName = ".."; }), "plain file name"},
        Refusal{"TextOneTooLong", with([](LaunchFile& f) { f.osIcns.assign(kLaunchTextMaxLength + 1, 'i'); }),
                "reads at most 1022"},
        Refusal{"NulInText", with([](LaunchFile& f) { f.extraArgs = {"a\0b"s}; }), "NUL"},
        Refusal{"ColonInClasspath", with([](LaunchFile& f) { f.classpath = {"a.jar:b.jar"}; }), "contains ':'"},
        Refusal{"NegativeHeap", with([](LaunchFile& f) { f.jvmMem = -1; }), "cannot be negative"},
        Refusal{"InitialAboveMaximum", with([](LaunchFile& f) { f.jvmStack = 1024; }), "larger than the maximum"},
        Refusal{"JvmOptionWithoutDash", with([](LaunchFile& f) { f.appJvmOptions = {"Xss2m"}; }), "start with '-'"},
        Refusal{"CompatibilityInVersion2", with([](LaunchFile& f) { f.compatibilityClass = "C"; }, 2),
                "needs launch file version 3"},
        Refusal{"PostInstallInVersion3", with([](LaunchFile& f) { f.postInstallClass = "P"; }, 3),
                "needs launch file version 4"},
        Refusal{"JvmOptionInVersion4", with([](LaunchFile& f) { f.appJvmOptions = {"-X"}; }, 4),
                "needs launch file version 5"},
        Refusal{"MustForkInVersion5", with([](LaunchFile& f) { f.mustFork = true; }, 5),
                "needs launch file version 6"}));

TEST(LsoFileWriter, RefusesWhatJavaWouldTakeForTheMainClass) {
  for (const std::string& option : {"Xss2m"s, ""s}) {
    EXPECT_THROW(writeLsoFile(LsoFile{{"-Xmx1g", option}}), UsageError) << option;
  }
}

}  // namespace
}  // namespace velmoran::pack
