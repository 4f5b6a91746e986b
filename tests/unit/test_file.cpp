#include "util/file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>

#include "archive/extract.h"
#include "platform/fileops.h"
#include "launch/launch.h"
#include "launcher/own_file.h"
#include "launcher/dynamic_params.h"
#include "splash/png_image.h"
#include "test_support.h"
#include "util/log.h"
#include "util/strings.h"

namespace velmoran {
namespace {

using ::testing::HasSubstr;
using testutil::modeOf;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

// What another local user can leave at a name before the launcher writes it.
enum class Plant { Nothing, OwnFile, LinkToFile, DanglingLink, HardLink, Fifo, Folder };

void plant(Plant kind, const std::string& path, const std::string& outside) {
  switch (kind) {
    case Plant::Nothing: break;
    case Plant::OwnFile: writeFile(path, "old content"); break;
    case Plant::LinkToFile: ASSERT_EQ(symlink(outside.c_str(), path.c_str()), 0); break;
    case Plant::DanglingLink: ASSERT_EQ(symlink((outside + ".new").c_str(), path.c_str()), 0); break;
    case Plant::HardLink: ASSERT_EQ(link(outside.c_str(), path.c_str()), 0); break;
    case Plant::Fifo: ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); break;
    case Plant::Folder: ASSERT_EQ(mkdir(path.c_str(), 0755), 0); break;
  }
}

struct WriteCase {
  const char* label;
  Plant planted;
  bool mustBeNew;
  bool opens;
  const char* record;  // "" for none
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.label; }

class PlantedAtAWrittenName : public ::testing::TestWithParam<WriteCase> {};

// Nothing at a name is written through, and the open never waits for a FIFO.
TEST_P(PlantedAtAWrittenName, IsNeverWrittenThrough) {
  const WriteCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "name", outside = dir / "outside";
  writeFile(outside, "someone else's");
  chmod(outside.c_str(), 0600);
  plant(c.planted, path, outside);

  ::testing::internal::CaptureStdout();
  FilePtr out = openForWriting(path, 0751, c.mustBeNew);
  const int error = errno;
  const std::string log = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(static_cast<bool>(out), c.opens);
  if (c.opens) {
    EXPECT_EQ(std::fputs("new", out.get()), 1);
    out.reset();
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(modeOf(path), 0751);
  } else if (c.planted == Plant::OwnFile) {
    EXPECT_EQ(error, EEXIST);
  }
  EXPECT_EQ(readFile(outside), "someone else's");
  EXPECT_EQ(modeOf(outside), 0600);
  EXPECT_FALSE(testutil::exists(outside + ".new"));
  if (*c.record != '\0') {
    EXPECT_THAT(log, HasSubstr("[Utils] Refusing to write " + path + ": " + c.record + "\n"));
  } else {
    EXPECT_EQ(log, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plants, PlantedAtAWrittenName,
    ::testing::Values(WriteCase{"NewName", Plant::Nothing, true, true, ""},
                      WriteCase{"OwnFileReplaced", Plant::OwnFile, false, true, ""},
                      WriteCase{"OwnFileWhenNewIsRequired", Plant::OwnFile, true, false, ""},
                      WriteCase{"Link", Plant::LinkToFile, false, false, "a link stands at its name"},
                      WriteCase{"LinkWhenNewIsRequired", Plant::LinkToFile, true, false, ""},
                      WriteCase{"DanglingLink", Plant::DanglingLink, false, false, "a link stands at its name"},
                      WriteCase{"HardLink", Plant::HardLink, false, false, "it has other names (hard links)"},
                      WriteCase{"FifoWithoutReader", Plant::Fifo, false, false, "it is not a regular file"},
                      WriteCase{"Folder", Plant::Folder, false, false, "it is not a regular file"}));

class PlantedAtAModeChange : public ::testing::TestWithParam<Plant> {};

// setFileMode (chmod777, the executables): a mode never reaches a file through a planted name.
TEST_P(PlantedAtAModeChange, GetsNoModeThroughIt) {
  TempDir dir;
  const std::string path = dir / "name", outside = dir / "outside";
  writeFile(outside, "");
  chmod(outside.c_str(), 0600);
  plant(GetParam(), path, outside);
  const bool own = GetParam() == Plant::OwnFile || GetParam() == Plant::Folder;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(setFileMode(path, 0700), own ? 0 : -1);
  const std::string log = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(modeOf(outside), 0600);
  if (own) {
    EXPECT_EQ(modeOf(path), 0700);
  } else {
    EXPECT_THAT(log, HasSubstr("[Utils] Refusing to change the mode of " + path));
  }
}

INSTANTIATE_TEST_SUITE_P(Plants, PlantedAtAModeChange,
                         ::testing::Values(Plant::OwnFile, Plant::Folder, Plant::LinkToFile, Plant::DanglingLink,
                                           Plant::HardLink, Plant::Fifo));

// Each reader of the launcher meets a FIFO where its file should be.
struct ReadCase {
  const char* label;
  const char* fifo;  // below the scratch folder
  std::function<int(const std::string& dir, const std::string& fifo)> run;  // the exit status
  int status;
  const char* record;
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.label; }

class FifoAtAReadPath : public ::testing::TestWithParam<ReadCase> {};

// Refused with a record and never waited on (the alarm ends a read that blocks).
TEST_P(FifoAtAReadPath, IsRefusedWithoutBlocking) {
  const ReadCase& c = GetParam();
  TempDir dir;
  const std::string fifo = dir / c.fifo;
  std::filesystem::create_directories(std::filesystem::path(fifo).parent_path());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_EXIT(
      {
        alarm(20);
        dup2(2, 1);
        unsetenv("DISPLAY");
        const int status = c.run(dir.path(), fifo);
        std::fflush(nullptr);
        std::_Exit(status);
      },
      ::testing::ExitedWithCode(c.status), std::string("Refusing to read .*: it is not a regular file(.|\n)*") + c.record);
}

INSTANTIATE_TEST_SUITE_P(
    Readers, FifoAtAReadPath,
    ::testing::Values(
        ReadCase{"LauncherFile", "launcher",
                 [](const std::string&, const std::string& fifo) -> int {
                   return readOwnFile(Invocation{fifo, fifo, {}, {fifo}, false}).status().exitStatus();
                 },
                 1, "Failed to extract wrapper params - couldn't open file"},
        ReadCase{"JreNameOverride", "VLApps/JreNameOverride",
                 [](const std::string& dir, const std::string&) {
                   std::string name = "Kept";
                   applyJreNameOverride(dir, name);
                   return name == "Kept" ? 0 : 9;
                 },
                 0, "No JRE name override"},
        ReadCase{"LaunchFile", "Velmoran-Velmoran-1-complete/VelmoranLaunch",
                 [](const std::string& dir, const std::string&) {
                   const LaunchRequest request{dir, "Velmoran-Velmoran-1-complete", {}, {}, "", std::nullopt, ""};
                   return launchFromLaunchFile(request, "Jre", LaunchClass::App).status().exitStatus();
                 },
                 1, "Unable to open launch file"},
        ReadCase{"Archive", "in.arc",
                 [](const std::string& dir, const std::string& fifo) {
                   return extractArchive(std::nullopt, fifo, dir, nullptr).status().exitStatus();
                 },
                 1, "couldn't open file"},
        ReadCase{"SplashImage", "nativesplash.png",
                 [](const std::string&, const std::string& fifo) {
                   uint64_t width = 0, height = 0;
                   return xorg_load_image_from_png(fifo.c_str(), &width, &height) ? 9 : 0;
                 },
                 0, "Unable to open file for reading"},
        ReadCase{"CopySource", "source",
                 [](const std::string& dir, const std::string& fifo) {
                   return copyFile(fifo, dir + "/copy") || testutil::exists(dir + "/copy") ? 9 : 0;
                 },
                 0, "Unable to open source file for copy"},
        ReadCase{"ExistenceCheck", "file",
                 [](const std::string&, const std::string& fifo) { return doesFileExist(fifo) ? 9 : 0; }, 0,
                 ""}));

// The tail's entries are read through a stream that ends where the Params
// section begins: reads stop there whatever size they ask, and positions are
// the file's own.
TEST(EndStreamAt, EndsTheInputAtItsOffset) {
  TempDir dir;
  writeFile(dir / "file", "0123456789abcdef");
  FilePtr file = openForReading(dir / "file");
  ASSERT_EQ(fseeko(file.get(), 2, SEEK_SET), 0);
  FilePtr ended = endStreamAt(std::move(file), 10);
  ASSERT_TRUE(ended);
  char buffer[32] = {};
  EXPECT_EQ(std::fread(buffer, 1, 3, ended.get()), 3u);
  EXPECT_EQ(std::string(buffer, 3), "234");
  EXPECT_EQ(ftello(ended.get()), 5);
  // A skip as the LZMA reader makes it, then a read across the end.
  ASSERT_EQ(fseeko(ended.get(), 2, SEEK_CUR), 0);
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, ended.get()), 3u);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_TRUE(std::feof(ended.get()));
  EXPECT_FALSE(std::ferror(ended.get()));
  // Seeking back clears the end; past it nothing is read.
  ASSERT_EQ(fseeko(ended.get(), 9, SEEK_SET), 0);
  EXPECT_EQ(std::getc(ended.get()), '9');
  EXPECT_EQ(std::getc(ended.get()), EOF);
  ASSERT_EQ(fseeko(ended.get(), 12, SEEK_SET), 0);
  EXPECT_EQ(std::getc(ended.get()), EOF);
}

}  // namespace
}  // namespace velmoran
