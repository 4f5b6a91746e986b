#include "launch/launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace velmoran {
namespace {

using namespace std::string_literals;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using testutil::exists;
using testutil::readFile;
using testutil::writeFile;
using Strings = std::vector<std::string>;

constexpr const char* kAppFolder = "Velmoran-Velmoran-00000000001-complete";
constexpr const char* kJreName = "TestJre";
constexpr const char* kJreFolder = "Velmoran-TestJre-00000000005-complete";
constexpr const char* kLauncher = "/abs/velmoran-launcher";

// Each field followed by its NUL, as launch and LSO files are laid out.
std::string fields(const Strings& values) {
  std::string bytes;
  for (const std::string& v : values) bytes += v + '\0';
  return bytes;
}

// A version 3 launch file: jvmMem 0, jvmStack 0, class path a.jar, one extra argument.
const Strings kVersion3 = {"3", "Main", "", "MyApp", "", "0", "0", "0", "1", "a.jar", "1", "--extra", "Compat"};

struct Outcome {
  int result;
  std::string log;
};

class LaunchTest : public testing::Test {
 protected:
  void SetUp() override {
    mkdir(appDir().c_str(), 0755);
    mkdir(jreDir().c_str(), 0755);
    mkdir((jreDir() + "/bin").c_str(), 0755);
    mkdir((dir / "VLApps").c_str(), 0755);
    mkdir((dir / "system").c_str(), 0755);
    writeJava(privateJava());
    writeJava(systemJava(), "exit 72");
  }

  std::string appDir() const { return dir / kAppFolder; }
  std::string jreDir() const { return dir / kJreFolder; }
  std::string privateJava() const { return jreDir() + "/bin/java"; }
  std::string appBinary() const { return jreDir() + "/bin/MyApp"; }
  std::string systemJava() const { return dir / "system/java"; }
  std::string lsoFile() const { return dir / ("VLApps/JRE-LastSuccessfulOptions-"s + kJreFolder); }
  std::string argvFile() const { return dir / "argv"; }

  // A stand-in for java: writes its arguments, NUL-separated, then runs tail.
  void writeJava(const std::string& path, const std::string& tail = "exit 0", mode_t mode = 0755) {
    const std::string out = argvFile();
    writeFile(path, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" + out + ".tmp' && mv '" + out +
                        ".tmp' '" + out + "'\n" + tail + "\n");
    chmod(path.c_str(), mode);
  }
  void writeLaunchFile(const Strings& values) { writeFile(appDir() + "/VelmoranLaunch", fields(values)); }

  Outcome launch(LaunchClass launchClass, const Strings& userArgs = {},
                 const PropertiesBlock& properties = {},
                 const std::string& staticUrl = "http://static.example/",
                 const std::optional<std::string>& dynamicUrl = std::nullopt) {
    unlink(argvFile().c_str());
    const std::string jre = launchClass == LaunchClass::App ? kJreName : systemJava();
    CaptureStdout();
    const LaunchRequest request{dir.path(), kAppFolder, properties, userArgs, staticUrl, dynamicUrl, kLauncher};
    const Result<int> result = launchFromLaunchFile(request, jre, launchClass);
    EXPECT_TRUE(result.ok());
    return {result.ok() ? *result : -2, testutil::withoutPrefixes(GetCapturedStdout())};
  }

  // What the started program was given; a class 0 launch does not wait for it.
  Strings startedWith() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!exists(argvFile()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string bytes = readFile(argvFile());
    Strings args;
    for (std::size_t start = 0, end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
      args.push_back(bytes.substr(start, end - start));
    }
    return args;
  }

  // The launch properties file, found as the argument after the main class.
  std::string propertiesOf(const Strings& args) const {
    for (const std::string& arg : args) {
      if (arg.starts_with(appDir() + "/VLLaunchProperties-")) return readFile(arg);
    }
    ADD_FAILURE() << "no launch properties file was passed";
    return "";
  }

  testutil::TempDir dir;
};

bool inOrder(const std::string& log, const Strings& records) {
  std::size_t at = 0;
  for (const std::string& record : records) {
    at = log.find(record, at);
    if (at == std::string::npos) {
      ADD_FAILURE() << "missing or out of order: " << record << "\n" << log;
      return false;
    }
    at += record.size();
  }
  return true;
}

struct VectorCase {
  const char* name;
  LaunchClass launchClass;
  Strings launchFile;
  std::optional<Strings> lso;
  Strings userArgs;
  Strings expected;  // $EXE: the executable, $APP: the app directory, $PROPS: the properties file
  int result;
};

void PrintTo(const VectorCase& c, std::ostream* os) { *os << c.name; }

class LaunchVector : public LaunchTest, public testing::WithParamInterface<VectorCase> {};

TEST_P(LaunchVector, PassesTheDocumentedArguments) {
  const VectorCase& c = GetParam();
  writeLaunchFile(c.launchFile);
  if (c.lso) writeFile(lsoFile(), fields(*c.lso));
  const Outcome o = launch(c.launchClass, c.userArgs);
  EXPECT_EQ(o.result, c.result) << o.log;
  const Strings args = startedWith();
  const std::string exe = c.launchClass == LaunchClass::App ? appBinary() : systemJava();
  ASSERT_EQ(args.size(), c.expected.size()) << o.log;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string want = c.expected[i];
    if (want == "$PROPS") {
      EXPECT_TRUE(args[i].starts_with(appDir() + "/VLLaunchProperties-")) << i << ": " << args[i];
      continue;
    }
    if (want == "$EXE") want = exe;
    for (std::size_t at; (at = want.find("$APP")) != std::string::npos;) want.replace(at, 4, appDir());
    EXPECT_EQ(args[i], want) << "argument " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, LaunchVector,
    testing::Values(
        VectorCase{"Version2", LaunchClass::App,
                   {"2", "com.example.Main", "", "MyApp", "", "0", "256", "0", "2", "lib/a.jar", "lib/b.jar", "0"},
                   std::nullopt, {"user-arg"},
                   {"$EXE", "-Xmx256m", "-cp", "$APP/lib/a.jar:$APP/lib/b.jar", "com.example.Main", "$PROPS", "user-arg"}, 0},
        VectorCase{"EmptyClasspath", LaunchClass::App, {"1", "Main", "", "MyApp", "", "0", "0", "0", "0", "0"},
                   std::nullopt, {}, {"$EXE", "-cp", "", "Main", "$PROPS"}, 0},
        VectorCase{"ShortFileGivesEmptyEntries", LaunchClass::App, {"1", "Main", "", "MyApp", "", "0", "0", "0", "2", "a.jar"},
                   std::nullopt, {}, {"$EXE", "-cp", "$APP/a.jar:$APP/", "Main", "$PROPS"}, 0},
        VectorCase{"LsoOptionsBeforeTheMainClass", LaunchClass::App,
                   {"3", "Main", "", "MyApp", "", "0", "0", "64", "1", "a.jar", "1", "--extra", "Compat"},
                   Strings{"2", "-Xss2m", "-Dlso=yes"}, {"u1", "u2"},
                   {"$EXE", "-Xms64m", "-cp", "$APP/a.jar", "-Xss2m", "-Dlso=yes", "Main", "$PROPS", "--extra", "u1", "u2"}, 0},
        VectorCase{"CheckRunsTheCompatibilityClassWithoutLso", LaunchClass::JreCompatibility,
                   {"3", "Main", "", "MyApp", "", "0", "128", "0", "1", "a.jar", "1", "--extra", "Compat"},
                   Strings{"1", "-Xnot-for-checks"}, {"u1"},
                   {"$EXE", "-Xmx128m", "-cp", "$APP/a.jar", "Compat", "$PROPS", "--extra", "u1"}, 72},
        VectorCase{"CheckBeforeVersion3EndsAtTheMainClass", LaunchClass::JreCompatibility,
                   {"2", "Main", "", "MyApp", "", "0", "128", "0", "1", "a.jar", "1", "--extra"},
                   std::nullopt, {"u1"}, {"$EXE", "-Xmx128m", "-cp", "$APP/a.jar"}, 72}));

TEST_F(LaunchTest, LsoOptionsAreLoggedInOrderAndBecomeProperties) {
  writeLaunchFile(kVersion3);
  const std::string longOption = "-Dlong=" + std::string(143, 'x');
  writeFile(lsoFile(), fields({"2", "-Xss2m", longOption}));
  const Outcome o = launch(LaunchClass::App, {"u"});
  const Strings args = startedWith();
  EXPECT_NE(std::find(args.begin(), args.end(), longOption), args.end());
  EXPECT_TRUE(inOrder(
      o.log, {"+++ Start: Launching\n",
              "[Extractor] Launching '"s + kAppFolder + "' from master folder '" + dir.path() +
                  "' of class 0 using JRE 'TestJre'\n",
              "[Extractor] Using private JRE "s + kJreFolder + "\n",
              "[Extractor] JRE LSO file is " + lsoFile() + "\n", "[Extractor] Building classpath\n",
              "[Extractor] Creating launch properties\n", "[Extractor] Checking LSO file\n",
              "[Extractor] Reading " + lsoFile() + "\n", "[Extractor] JRE LSO file exists\n",
              "[Extractor] Found 2 JVM Options\n", "[Extractor] Launch Prop: jvm_options_0 = -Xss2m\n",
              "[Extractor] Launch Prop: jvm_options_1 = " + longOption.substr(0, 99) + "...\n",
              "[Extractor] Writing launch properties file\n", "[Extractor] Reading 1 extra args\n",
              "[Extractor] Read JRE compatibility class Compat\n",
              "[Extractor] Appending 1 command line args\n",
              "[Extractor] Executable: " + appBinary() + "\n", "[Extractor] Argument 0: " + appBinary() + "\n",
              "[Extractor] Argument 8: u\n", "[Extractor] This is a newer extractor... launchclass is 0\n",
              "[Extractor] JRE folder is " + jreDir() + "\n", "[Extractor] Attempting spawn launch\n",
              "+++ Start: Spawn launch\n", "[Utils] Closing logging file.\n"}));
  EXPECT_TRUE(propertiesOf(args).ends_with(
      "\0vlstat_jvm_options_count\0" "2\0vlstat_jvm_options_0\0-Xss2m\0vlstat_jvm_options_1\0"s + longOption));
}

struct UrlCase {
  std::string staticUrl;
  std::optional<std::string> dynamicUrl;
  std::string urlProperties;
};

class LaunchProperties : public LaunchTest, public testing::WithParamInterface<UrlCase> {};

TEST_P(LaunchProperties, FollowTheIncomingBlock) {
  writeLaunchFile(kVersion3);
  PropertiesBlock incoming;
  addDynamicProperty(incoming, "jre_name", kJreName);
  const Outcome o = launch(LaunchClass::App, {}, incoming, GetParam().staticUrl, GetParam().dynamicUrl);
  EXPECT_TRUE(o.log.find("\nJRE LSO file does not exist\n") != std::string::npos) << o.log;
  EXPECT_EQ(o.log.find("Retrying"), std::string::npos);
  EXPECT_EQ(propertiesOf(startedWith()),
            "vldyna_jre_name\0TestJre\0"s + GetParam().urlProperties + "vlstat_app_dir\0"s + appDir() +
                "\0vlstat_jre_name\0TestJre\0vlstat_launched_from_dynprops\0"s + kLauncher +
                // What the updater learns of its own start.
                "\0vlstat_updater_folder\0"s + appDir() + "\0vlstat_jre_folder\0"s + jreDir() +
                "\0vlstat_updater_max_heap\0" "0\0vlstat_updater_initial_heap\0" "0\0vlstat_updater_jvm_options_count\0" "0"s);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateUrls, LaunchProperties,
    testing::Values(UrlCase{"D", "http://dyn/", "vlstat_update_url\0D\0vldyna_update_url\0http://dyn/\0"s},
                    UrlCase{"D", std::nullopt, "vlstat_update_url\0D\0"s},
                    UrlCase{"http://s/", "http://dyn/", "vlstat_update_url\0http://s/\0"s},
                    UrlCase{"", "http://dyn/", "vlstat_update_url\0\x04\0"s}));

TEST_F(LaunchTest, ACheckLeavesNoTraceInTheLaunchThatFollows) {
  writeLaunchFile(kVersion3);
  PropertiesBlock incoming;
  addStaticProperty(incoming, "app_name", "MyApp");
  const Outcome check = launch(LaunchClass::JreCompatibility, {}, incoming);
  EXPECT_EQ(check.result, 72);
  EXPECT_NE(propertiesOf(startedWith()).find(systemJava()), std::string::npos);
  EXPECT_TRUE(check.log.find("Not a private JRE (no need to check for LSO file)\n") != std::string::npos);

  launch(LaunchClass::App, {}, incoming);
  const std::string properties = propertiesOf(startedWith());
  EXPECT_EQ(properties.find(systemJava()), std::string::npos);
  EXPECT_TRUE(properties.starts_with("vlstat_app_name\0MyApp\0vlstat_update_url\0"s)) << properties;
}

TEST_F(LaunchTest, TheAppBinaryIsCopiedOnlyWhenMissing) {
  writeLaunchFile(kVersion3);
  const std::string firstJava = readFile(privateJava());
  const Outcome first = launch(LaunchClass::App);
  startedWith();
  EXPECT_EQ(readFile(appBinary()), firstJava);
  EXPECT_EQ(testutil::modeOf(appBinary()), 0755);
  EXPECT_NE(first.log.find("[Extractor] Copying FILE " + appBinary() + "\n"), std::string::npos);

  writeJava(privateJava(), "exit 3");
  const Outcome second = launch(LaunchClass::App);
  EXPECT_FALSE(startedWith().empty());
  EXPECT_EQ(second.log.find("Copying FILE"), std::string::npos);
  EXPECT_EQ(readFile(appBinary()), firstJava);
}

TEST_F(LaunchTest, CountsBeyondTheFileStopAtItsEndAndLargeVectorsPassWhole) {
  // 80 entries of 700 characters make a class path well past 50,000 bytes.
  Strings launchFile = {"3", "Main", "", "MyApp", "", "0", "0", "0", "80"};
  for (int i = 0; i < 80; ++i) launchFile.push_back(std::to_string(i) + std::string(700, 'c'));
  launchFile.insert(launchFile.end(), {"1000000000000", "e1"});
  writeLaunchFile(launchFile);
  writeFile(lsoFile(), fields({"1000000000000", "-Da"}));
  Strings userArgs;
  for (int i = 0; i < 600; ++i) userArgs.push_back("arg" + std::to_string(i));

  const Outcome o = launch(LaunchClass::App, userArgs);
  EXPECT_TRUE(inOrder(o.log, {"[Extractor] Found 1000000000000 JVM Options\n",
                              "[Extractor] LSO Count 1000000000000 exceeds the file; stopping after 2 entries\n",
                              "[Extractor] Reading 1000000000000 extra args\n",
                              "[Extractor] Extra Args Count 1000000000000 exceeds the file; stopping after 2 entries\n"}));
  const Strings args = startedWith();
  // exe, -cp, class path, 2 LSO options, main class, properties, 2 extra args, users'.
  ASSERT_EQ(args.size(), 9u + userArgs.size());
  EXPECT_GT(args[2].size(), 50000u);
  EXPECT_EQ(std::count(args[2].begin(), args[2].end(), ':'), 79);
  EXPECT_TRUE(args[2].ends_with(":" + appDir() + "/79" + std::string(700, 'c')));
  EXPECT_EQ(Strings(args.begin() + 3, args.begin() + 6), (Strings{"-Da", "", "Main"}));
  EXPECT_EQ(Strings(args.begin() + 7, args.begin() + 9), (Strings{"e1", ""}));
  EXPECT_EQ(Strings(args.begin() + 9, args.end()), userArgs);
  EXPECT_NE(propertiesOf(args).find("vlstat_jvm_options_count\0" "2\0"s), std::string::npos);
}

struct StartCase {
  const char* name;
  LaunchClass launchClass;
  const char* javaTail;
  mode_t mode;
  std::size_t hugeArgument;  // characters of one user argument, 0 for none
  int result;
  const char* record;  // logged when the start is refused
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class LaunchStart : public LaunchTest, public testing::WithParamInterface<StartCase> {};

TEST_P(LaunchStart, ReportsTheOutcome) {
  const StartCase& c = GetParam();
  writeLaunchFile(kVersion3);
  writeJava(c.launchClass == LaunchClass::App ? privateJava() : systemJava(), c.javaTail, c.mode);
  const Strings userArgs = c.hugeArgument > 0 ? Strings{std::string(c.hugeArgument, 'h')} : Strings{};
  const Outcome o = launch(c.launchClass, userArgs);
  EXPECT_EQ(o.result, c.result);
  if (*c.record != '\0') {
    EXPECT_TRUE(inOrder(o.log, {std::string(43, '*') + "\n", c.record, std::string(43, '*') + "\n"}));
  } else {
    EXPECT_EQ(o.log.find("Launch Error"), std::string::npos);
  }
  if (c.launchClass == LaunchClass::JreCompatibility) {
    CaptureStdout();
    const LaunchRequest request{dir.path(), kAppFolder, {}, userArgs, "D", std::nullopt, kLauncher};
    const Result<bool> passed = checkAppJreCompatibility(request, systemJava());
    GetCapturedStdout();
    EXPECT_EQ(*passed, c.result == kJreCompatibleStatus);
  }
}

// A single argument past the kernel's 128 KiB limit is refused with E2BIG.
INSTANTIATE_TEST_SUITE_P(
    Starts, LaunchStart,
    testing::Values(StartCase{"CheckPassesOn72", LaunchClass::JreCompatibility, "exit 72", 0755, 0, 72, ""},
                    StartCase{"CheckFailsOn0", LaunchClass::JreCompatibility, "exit 0", 0755, 0, 0, ""},
                    StartCase{"CheckKilledBySignal", LaunchClass::JreCompatibility, "kill -KILL $$", 0755, 0, -1, ""},
                    StartCase{"CheckOfANonExecutable", LaunchClass::JreCompatibility, "exit 72", 0644, 0, -1,
                              "Launch Error 13.\n"},
                    StartCase{"CheckWithAHugeArgument", LaunchClass::JreCompatibility, "exit 72", 0755, 200000, -1,
                              "Launch Error 7.\n"},
                    StartCase{"AppWithAHugeArgument", LaunchClass::App, "exit 0", 0755, 200000, 7,
                              "Launch Error 7.\n"}));

struct FatalCase {
  const char* name;
  bool launchFile;
  bool privateJre;
  const char* appName;
  const char* record;
};

void PrintTo(const FatalCase& c, std::ostream* os) { *os << c.name; }

class LaunchFatal : public LaunchTest, public testing::WithParamInterface<FatalCase> {};

TEST_P(LaunchFatal, FailsWithStatus1) {
  const FatalCase& c = GetParam();
  if (c.launchFile) writeLaunchFile({"1", "Main", "", c.appName, "", "0", "0", "0", "0", "0"});
  if (!c.privateJre) std::filesystem::remove_all(jreDir());
  CaptureStdout();
  const LaunchRequest request{dir.path(), kAppFolder, {}, {}, "D", std::nullopt, kLauncher};
  const Result<int> result = launchFromLaunchFile(request, kJreName, LaunchClass::App);
  const std::string log = GetCapturedStdout();
  EXPECT_EQ(result.status().exitStatus(), 1);
  EXPECT_TRUE(std::regex_search(log, std::regex(c.record))) << log;
  EXPECT_FALSE(exists(dir / "escaped"));
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, LaunchFatal,
    testing::Values(FatalCase{"NoLaunchFile", false, true, "MyApp", "Unable to open launch file .*VelmoranLaunch"},
                    FatalCase{"NoPrivateJre", true, false, "MyApp", "No private JRE available!"},
                    FatalCase{"AppNameLeavingBin", true, true, "../../escaped", "is not a file name"},
                    FatalCase{"EmptyAppName", true, true, "", "is not a file name"}));

}  // namespace
}  // namespace velmoran
