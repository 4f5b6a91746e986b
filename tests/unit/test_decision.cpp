#include "launcher/decision.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velmoran {
namespace {

struct DecisionCase {
  const char* name;
  InstalledVersions installed;
  const char* guVersion;
  const char* appVersion;
  Action action;
  const char* last;  // the last record: the reason to install, or why it just runs
};

void PrintTo(const DecisionCase& c, std::ostream* os) { *os << c.name; }

std::optional<std::string> folder(const char* component, const char* version) {
  return std::string("Velmoran-") + component + "-" + version + "-complete";
}

const auto kUpdater5 = folder("Velmoran", "00000000005");
const auto kJre17 = folder("TestJRE", "00000000017");
const auto kApp7 = folder("MyApp", "00000000007");

constexpr const char* kNoGuOrJre =
    "[Extractor] No latest GU or JRE version exists, will check tail for online/offline info\n";
constexpr const char* kNewerGu = "[Extractor] Our GU version is newer than existing latest version so will extract and run\n";
constexpr const char* kSameOrOlderGu = "[Extractor] Latest GUversion is newer or same as our version so will just run\n";
constexpr const char* kNoApp = "[Extractor] No app version found and we are offline so will extract\n";
constexpr const char* kNewerApp =
    "[Extractor] Our App version is newer than existing latest version so will extract and run\n";
constexpr const char* kSameOrOlderApp =
    "[Extractor] Latest App version is newer or same as our version so will just run\n";

class Decide : public testing::TestWithParam<DecisionCase> {};

TEST_P(Decide, InstallsOnlyWhatTheTailHasNewer) {
  const DecisionCase& c = GetParam();
  TailHeader header;
  header.appName = "MyApp";
  header.guVersion = c.guVersion;
  header.appVersion = c.appVersion;
  const Decision d = decide(header, c.installed);
  EXPECT_EQ(d.action, c.action);
  ASSERT_FALSE(d.records.empty());
  EXPECT_EQ(d.records.back(), c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Decide,
    testing::Values(
        DecisionCase{"NothingInstalled", {}, "00000000005", "00000000007", Action::Install, kNoGuOrJre},
        DecisionCase{"NoJreInstalled", {kUpdater5, {}, kApp7}, "00000000005", "00000000007", Action::Install,
                     kNoGuOrJre},
        DecisionCase{"NewerUpdater", {kUpdater5, kJre17, kApp7}, "00000000006", "00000000007", Action::Install,
                     kNewerGu},
        // Numbers, not texts: 10 is newer than 9.
        DecisionCase{"NewerByNumber", {folder("Velmoran", "9"), kJre17, kApp7}, "00000000010", "", Action::Install,
                     kNewerGu},
        DecisionCase{"OnlineLauncherUpdaterCurrent", {kUpdater5, kJre17, {}}, "00000000005", "", Action::JustRun,
                     kSameOrOlderGu},
        DecisionCase{"JustALauncher", {kUpdater5, kJre17, {}}, "", "", Action::JustRun, kSameOrOlderGu},
        DecisionCase{"JustALauncherNothingInstalled", {}, "", "", Action::Install, kNoGuOrJre},
        DecisionCase{"ApplicationMissing", {kUpdater5, kJre17, {}}, "00000000005", "00000000007", Action::Install,
                     kNoApp},
        DecisionCase{"NewerApplication", {kUpdater5, kJre17, kApp7}, "00000000005", "00000000008", Action::Install,
                     kNewerApp},
        DecisionCase{"EverythingCurrent", {kUpdater5, kJre17, kApp7}, "00000000005", "00000000007", Action::JustRun,
                     kSameOrOlderApp},
        DecisionCase{"OlderFileOverNewerInstall", {folder("Velmoran", "00000000006"), kJre17, folder("MyApp", "8")},
                     "00000000005", "00000000007", Action::JustRun, kSameOrOlderApp}),
    [](const testing::TestParamInfo<DecisionCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran
