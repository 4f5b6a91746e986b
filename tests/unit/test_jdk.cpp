#include "jdk.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "test_support.h"

namespace velmoran::pack {
namespace {

using testutil::TempDir;

struct Release {
  const char* text;
  std::optional<std::string> version;  // as versionNumber spells it
};

class ReleaseFile : public testing::TestWithParam<Release> {};

TEST_P(ReleaseFile, GivesTheVersionOrNone) {
  TempDir home;
  testutil::writeFile(home / "release", GetParam().text);
  const std::optional<JavaVersion> v = releaseVersion(home.path());
  EXPECT_EQ(v ? versionNumber(*v) : std::nullopt, GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReleaseFile,
    testing::Values(Release{"IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.15\"\nOS_NAME=\"Linux\"\n", "00017000015"},
                    Release{"JAVA_VERSION=\"21\"\n", "00021000000"},
                    Release{"JAVA_VERSION=\"11.0.2.1\"", "00011000002"},
                    Release{"JAVA_VERSION=\"17.0.1000\"\n", std::nullopt},
                    Release{"JAVA_VERSION=\"17..1\"\n", std::nullopt},
                    Release{"JAVA_VERSION=\"17.0.\"\n", std::nullopt},
                    Release{"JAVA_VERSION=\"\"\n", std::nullopt},
                    Release{"JAVA_VERSION=\"17-ea\"\n", std::nullopt},
                    Release{"JAVA_VERSION=\"17.0.15\n", std::nullopt},
                    Release{"XJAVA_VERSION=\"17\"\nJAVA_RUNTIME_VERSION=\"17\"\n", std::nullopt},
                    Release{"", std::nullopt}));

TEST(ReleaseFile, MissingFileGivesNone) {
  TempDir home;
  EXPECT_EQ(releaseVersion(home.path()).has_value(), false);
}

TEST(ModuleList, TakesWhatJlinkTakes) {
  for (const char* good : {"java.base", "java.base,java.desktop", "jdk.unsupported,my_mod2"}) {
    EXPECT_TRUE(isModuleList(good)) << good;
  }
  for (const char* bad : {"", ",java.base", "java.base,", "java.base,,java.xml", "java.base java.xml", "a;b", "-x"}) {
    EXPECT_FALSE(isModuleList(bad)) << bad;
  }
}

}  // namespace
}  // namespace velmoran::pack
