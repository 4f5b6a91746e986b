#include "format/manifest.h"

#include <gtest/gtest.h>

#include <string>

namespace velmoran {
namespace {

const std::string kDigest(64, 'a');

std::string manifest(const std::string& components, const std::string& head = "application MyApp\n") {
  return "velmoran-manifest 1\n" + head + "required true\nrollback false\n" + components;
}

std::string component(const std::string& kind, const std::string& name, const std::string& version,
                      const std::string& size = "1234", const std::string& digest = kDigest) {
  return "component " + kind + " " + name + " " + version + " Velmoran-" + name + "-" + version + "-archive.p2.l2 " +
         size + " " + digest + "\n";
}

TEST(Manifest, ReadsWhatTheWriterWrites) {
  const std::string text = manifest(component("updater", "Velmoran", "00000000006") +
                                    component("application", "MyApp", "00000000008") +
                                    component("jre", "Linux64JRE", "00000000017", "16000000"));
  std::string fault;
  const std::optional<Manifest> m = parseManifest(text, fault);
  ASSERT_TRUE(m) << fault;
  EXPECT_EQ(m->application, "MyApp");
  EXPECT_TRUE(m->required);
  EXPECT_FALSE(m->rollback);
  ASSERT_EQ(m->components.size(), 3u);
  EXPECT_EQ(m->components[2].kind, ManifestKind::Jre);
  EXPECT_EQ(m->components[2].size, 16000000u);
  EXPECT_EQ(m->components[1].archive, "Velmoran-MyApp-00000000008-archive.p2.l2");
  EXPECT_EQ(manifestText(*m), text);
}

struct BadManifest {
  const char* name;
  std::string text;
};

void PrintTo(const BadManifest& c, std::ostream* os) { *os << c.name; }

class ManifestRefused : public testing::TestWithParam<BadManifest> {};

// What the install would take as a folder name, a URL or a promise must be
// exactly of its form: a server's manifest is hostile until checked.
TEST_P(ManifestRefused, WithAReason) {
  std::string fault;
  EXPECT_FALSE(parseManifest(GetParam().text, fault));
  EXPECT_FALSE(fault.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ManifestRefused,
    testing::Values(
        BadManifest{"NoFirstLine", "application MyApp\n"},
        BadManifest{"OtherFormatVersion", "velmoran-manifest 2\napplication MyApp\n"},
        BadManifest{"NoApplication", "velmoran-manifest 1\nrequired true\n"},
        BadManifest{"UnknownKey", manifest("mirror http://x/\n")},
        BadManifest{"FlagNotABoolean", manifest("", "application MyApp\nrequired yes\n")},
        BadManifest{"ApplicationNameWithADash", manifest("", "application My-App\n")},
        BadManifest{"OtherApplication", manifest(component("application", "Other", "00000000008"))},
        BadManifest{"UpdaterUnderAnotherName", manifest(component("updater", "MyApp", "00000000008"))},
        BadManifest{"JreNamedVelmoran", manifest(component("jre", "Velmoran", "00000000017"))},
        BadManifest{"ShortVersion", manifest(component("application", "MyApp", "8"))},
        BadManifest{"VersionLeadingOut", manifest(component("application", "MyApp", "../../0000000"))},
        BadManifest{"ArchiveOfAnotherName", manifest("component application MyApp 00000000008 ../../x.p2.l2 12 " +
                                                     kDigest + "\n")},
        BadManifest{"NoSize", manifest(component("application", "MyApp", "00000000008", "0"))},
        BadManifest{"HugeSize", manifest(component("application", "MyApp", "00000000008", "99999999999999"))},
        BadManifest{"ShortDigest", manifest(component("application", "MyApp", "00000000008", "12", "abc"))},
        BadManifest{"UpperCaseDigest",
                    manifest(component("application", "MyApp", "00000000008", "12", std::string(64, 'A')))},
        BadManifest{"TwoApplications", manifest(component("application", "MyApp", "00000000008") +
                                                component("application", "MyApp", "00000000009"))},
        BadManifest{"MissingField", manifest("component application MyApp 00000000008\n")},
        BadManifest{"NulByte", manifest(std::string("rollback false\0\n", 16))},
        BadManifest{"TooLarge", manifest(std::string(1 << 20, '\n'))}),
    [](const testing::TestParamInfo<BadManifest>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran
