#include "launcher_rules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cli.h"

namespace velmoran::pack {
namespace {

// An offline installer with a JRE, as app and launcher make one.
LauncherSpec valid() {
  LauncherSpec s;
  TailHeader& h = s.header;
  h.appName = "Demo";
  h.appVersion = "00000000002";
  h.jreVersion = "00000000003";
  h.guVersion = "00000000001";
  h.minSplashMs = "0";
  h.canOverrideSplash = "0";
  h.installType = "perm_user";
  h.updateUrl = "http://updates.example/";
  s.jreName = "MyJRE";
  s.params = {{"jre_name", "MyJRE"}, {"supported_langs", "en"}};
  for (const TailEntryRole role : {TailEntryRole::Decompressor, TailEntryRole::SplashImage,
                                   TailEntryRole::UpdaterArchive, TailEntryRole::JreArchive, TailEntryRole::AppArchive}) {
    s.files[role] = "file";
  }
  return s;
}

TEST(LauncherSpec, AFileAsTheBuilderMakesItBreaksNoRule) { EXPECT_TRUE(specFaults(valid()).empty()); }

enum class Refused { kUsage, kFailure };

struct Case {
  const char* name;
  std::function<void(LauncherSpec&)> change;
  const char* refusal;  // the start of what the commands say
  Refused refused;
  const char* where;  // check's place for the finding
  bool error;         // check: an error, or a warning for a value the launcher reads as a default
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class BrokenRule : public testing::TestWithParam<Case> {};

// One fault per broken rule: refused by the commands as a usage error or a
// failure, reported by check at its place and with its weight.
TEST_P(BrokenRule, IsOneFaultForBothSides) {
  const Case& c = GetParam();
  LauncherSpec spec = valid();
  c.change(spec);
  const std::vector<SpecFault> faults = specFaults(spec);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_TRUE(faults[0].refusal.starts_with(c.refusal)) << faults[0].refusal;
  EXPECT_TRUE(faults[0].finding.starts_with(std::string(c.where) + ": ")) << faults[0].finding;
  EXPECT_EQ(faults[0].error, c.error);
  try {
    refuseFaults(faults);
    ADD_FAILURE() << "not refused";
  } catch (const UsageError& e) {
    EXPECT_EQ(c.refused, Refused::kUsage);
    EXPECT_EQ(e.message, faults[0].refusal);
  } catch (const Failure& e) {
    EXPECT_EQ(c.refused, Refused::kFailure);
    EXPECT_EQ(e.message, faults[0].refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BrokenRule,
    testing::Values(
        Case{"AppName", [](LauncherSpec& s) { s.header.appName = "My-App"; },
             "application name 'My-App' is refused: it must not contain", Refused::kUsage, "header", true},
        Case{"KeyNotRsa", [](LauncherSpec& s) { s.header.signaturePublicKey = "00ff"; },
             "the public key must be the hexadecimal DER text", Refused::kFailure, "header", true},
        Case{"InstallType", [](LauncherSpec& s) { s.header.installType = "perm_al"; },
             "--install-type must be perm_all, perm_user or temporary; got 'perm_al'", Refused::kUsage, "header", false},
        Case{"SplashTime", [](LauncherSpec& s) { s.header.minSplashMs = "1s"; }, "--min-splash-ms must be",
             Refused::kUsage, "header", false},
        Case{"VersionNoNumber", [](LauncherSpec& s) { s.header.appVersion = "1x"; }, "--app-version must be",
             Refused::kUsage, "header", true},
        Case{"VersionTooLong", [](LauncherSpec& s) { s.header.guVersion = std::string(19, '1'); },
             "--updater-version must be", Refused::kUsage, "header", true},
        Case{"FieldTooLong", [](LauncherSpec& s) { s.header.updateUrl = std::string(4999, 'u'); },
             "header field 'Update URL' is 4999 characters long; the launcher reads at most 4998", Refused::kUsage,
             "header", true},
        Case{"JreName",
             [](LauncherSpec& s) {
               s.jreName = "my-jre";
               s.params[0].second = "my-jre";
             },
             "JRE name 'my-jre' is refused", Refused::kUsage, "params", true},
        Case{"JreNameParamDisagrees", [](LauncherSpec& s) { s.params.emplace_back("jre_name", "Other"); },
             "parameter jre_name 'Other' is not the JRE name 'MyJRE'", Refused::kUsage, "params", true},
        Case{"NoJreName",
             [](LauncherSpec& s) {
               s.jreName.reset();
               s.params.erase(s.params.begin());
             },
             "--jre-name is required with --jre-version", Refused::kUsage, "params", true},
        Case{"FileMissing", [](LauncherSpec& s) { s.files.erase(TailEntryRole::SplashImage); },
             "--splash is required with --updater-version", Refused::kUsage, "entries", true},
        Case{"FileNotPlanned", [](LauncherSpec& s) { s.header.jreVersion.clear(); },
             "--jre-archive needs --jre-version", Refused::kUsage, "entries", true},
        Case{"SplashImageParam", [](LauncherSpec& s) { s.params.emplace_back("splash_image", "iVBOR\nw0K"); },
             "parameter splash_image must be Base64 on one line", Refused::kUsage, "params", false},
        Case{"ParamsOverflowTheArea",
             [](LauncherSpec& s) {
               for (const char* name : {"a", "b", "c", "d"}) s.params.emplace_back(name, std::string(60000, 'v'));
             },
             "the parameters take", Refused::kUsage, "params", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran::pack
