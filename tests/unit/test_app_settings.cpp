#include "app_settings.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <string>

#include "cli.h"
#include "test_support.h"

namespace velmoran::pack {
namespace {

using testutil::TempDir;

struct OptionCase {
  const char* given;
  const char* written;  // nullptr: refused
};

class JvmOption : public testing::TestWithParam<OptionCase> {};

TEST_P(JvmOption, IsOneArgumentJavaTakesOrRefused) {
  const OptionCase& c = GetParam();
  if (c.written == nullptr) {
    EXPECT_THROW(jvmOptionOf(c.given), UsageError) << c.given;
  } else {
    EXPECT_EQ(jvmOptionOf(c.given), c.written);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JvmOption,
    testing::Values(OptionCase{"-Dnotes.mode=prod", "-Dnotes.mode=prod"},
                    OptionCase{"-Dtext=two words", "-Dtext=two words"},
                    OptionCase{"--add-opens java.base/java.lang=ALL-UNNAMED",
                               "--add-opens=java.base/java.lang=ALL-UNNAMED"},
                    OptionCase{"--add-opens=java.base/java.lang=ALL-UNNAMED",
                               "--add-opens=java.base/java.lang=ALL-UNNAMED"},
                    OptionCase{"-XX:+UseSerialGC", "-XX:+UseSerialGC"},
                    // Not options: java would take them for the main class.
                    OptionCase{"", nullptr}, OptionCase{"Dx=1", nullptr},
                    OptionCase{"java.base/java.lang=ALL-UNNAMED", nullptr},
                    // The class path and the main class are app's.
                    OptionCase{"-cp", nullptr}, OptionCase{"-classpath", nullptr},
                    OptionCase{"--class-path=lib", nullptr}, OptionCase{"--class-path lib", nullptr},
                    OptionCase{"-jar", nullptr}, OptionCase{"--module=m/c", nullptr}));

TEST(JavaProperty, BecomesADefineOrIsRefusedWithoutAName) {
  EXPECT_EQ(javaPropertyOption("color=blue"), "-Dcolor=blue");
  EXPECT_EQ(javaPropertyOption("empty="), "-Dempty=");
  EXPECT_EQ(javaPropertyOption("a=b=c"), "-Da=b=c");
  for (const char* bad : {"", "=blue", "color"}) EXPECT_THROW(javaPropertyOption(bad), UsageError) << bad;
}

TEST(DesktopCategories, EachNameEndsWithASemicolon) {
  EXPECT_EQ(desktopCategoriesOf("Utility"), "Utility;");
  EXPECT_EQ(desktopCategoriesOf("Development;Utility;"), "Development;Utility;");
  EXPECT_EQ(desktopCategoriesOf("Development,X-Notes"), "Development;X-Notes;");
  // Characters a desktop file reads otherwise: a line break would start a key of its own.
  for (const char* bad : {"", ";", "A B", "Utility\nExec=x", "A=B", "Ütility"}) {
    EXPECT_THROW(desktopCategoriesOf(bad), UsageError) << bad;
  }
}

// Outputs that cannot be written fail at once, with the option in the message.
TEST(WritableOutput, RefusesWhatCannotBeWritten) {
  TempDir dir;
  testutil::writeFile(dir / "file", "x");
  mkdir((dir / "folder").c_str(), 0755);
  const struct {
    std::string path;
    const char* says;
  } refused[] = {{dir / "folder", "it is a folder"},
                 {dir / "missing/out", "is not a folder"},
                 {dir / "file/out", "is not a folder"},
                 {"/proc/out", "takes no new files"}};
  for (const auto& r : refused) {
    try {
      checkWritableOutput(r.path, "-o");
      ADD_FAILURE() << r.path << " passed";
    } catch (const Failure& e) {
      EXPECT_NE(e.message.find("-o " + r.path), std::string::npos) << e.message;
      EXPECT_NE(e.message.find(r.says), std::string::npos) << e.message;
    }
  }
  EXPECT_NO_THROW(checkWritableOutput(dir / "new", "-o"));
  EXPECT_NO_THROW(checkWritableOutput(dir / "file", "-o"));
  EXPECT_NO_THROW(checkWritableOutput("/dev/null", "-o"));
}

TEST(WritableFolder, TakesAFolderOrOneToMakeAndLeavesNothing) {
  TempDir dir;
  testutil::writeFile(dir / "file", "x");
  EXPECT_NO_THROW(checkWritableFolder(dir.path(), "--publish"));
  EXPECT_NO_THROW(checkWritableFolder(dir / "new", "--publish"));
  EXPECT_THROW(checkWritableFolder(dir / "file", "--publish"), Failure);
  EXPECT_THROW(checkWritableFolder(dir / "missing/new", "--publish"), Failure);
  EXPECT_THROW(checkWritableFolder("/proc", "--publish"), Failure);
  struct stat st {};
  EXPECT_NE(stat((dir / "new").c_str(), &st), 0);
  // No probe file is left behind.
  std::size_t entries = 0;
  if (DIR* d = opendir(dir.path().c_str())) {
    while (const dirent* e = readdir(d)) entries += e->d_name[0] != '.';
    closedir(d);
  }
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace velmoran::pack
