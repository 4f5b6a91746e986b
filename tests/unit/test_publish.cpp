#include "publish.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "archive/extract.h"
#include "archive/signature.h"
#include "test_support.h"

namespace velmoran::pack {
namespace {

using testutil::TempDir;

struct ArchiveName {
  const char* name;
  const char* component;
  bool ours;
};

void PrintTo(const ArchiveName& c, std::ostream* os) { *os << c.name << " of " << c.component; }

class ChannelArchiveName : public testing::TestWithParam<ArchiveName> {};

// --prune removes what this matches: a name of anything else in the folder
// must never match.
TEST_P(ChannelArchiveName, MatchesOnlyTheComponentsArchives) {
  EXPECT_EQ(isChannelArchiveOf(GetParam().name, GetParam().component), GetParam().ours);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ChannelArchiveName,
    testing::Values(ArchiveName{"Velmoran-MyApp-00000000001-archive.p2.l2", "MyApp", true},
                    ArchiveName{"Velmoran-Velmoran-00054022301-archive.p2.l2", "Velmoran", true},
                    ArchiveName{"Velmoran-MyApp-7-archive.p2.l2", "MyApp", true},
                    ArchiveName{"Velmoran-MyApp-00000000001-archive.p2.l2", "Velmoran", false},
                    ArchiveName{"Velmoran-MyApp2-00000000001-archive.p2.l2", "MyApp", false},
                    ArchiveName{"Velmoran-My-00000000001-archive.p2.l2", "MyApp", false},
                    ArchiveName{"Velmoran-MyApp--archive.p2.l2", "MyApp", false},
                    ArchiveName{"Velmoran-MyApp-0000000000x-archive.p2.l2", "MyApp", false},
                    ArchiveName{"Velmoran-MyApp-00000000001-archive.p2", "MyApp", false},
                    ArchiveName{"Velmoran-MyApp-00000000001-archive.p2.l2.part", "MyApp", false},
                    ArchiveName{"Velmoran-MyApp-version.txt", "MyApp", false},
                    ArchiveName{"Velmoran-MyApp-manifest.p2", "MyApp", false},
                    ArchiveName{"MyApp-00000000001-archive.p2.l2", "MyApp", false}));

std::set<std::string> listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename());
  return names;
}

class Channel : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* piece : {"updater", "app", "jre"}) {
      testutil::writeFile(made / piece, std::string(piece) + " archive bytes of this release");
    }
    // What an earlier release and other people left in the folder.
    for (const char* name : {"Velmoran-Velmoran-00000000001-archive.p2.l2", "Velmoran-MyApp-00000000001-archive.p2.l2",
                             "Velmoran-Linux64JRE-00000000016-archive.p2.l2",
                             "Velmoran-Other-00000000001-archive.p2.l2", "index.html"}) {
      testutil::writeFile(channel / name, "earlier");
    }
    mkdir((channel / "Velmoran-MyApp-00000000000-archive.p2.l2").c_str(), 0755);
    symlink("index.html", (channel / "Velmoran-MyApp-00000000003-archive.p2.l2").c_str());
    before = listing(channel.path());
  }

  Release release() const {
    Release r;
    r.appName = "MyApp";
    r.required = true;
    r.pieces = {{ManifestKind::Updater, "Velmoran", "00000000002", made / "updater"},
                {ManifestKind::Application, "MyApp", "00000000002", made / "app"},
                {ManifestKind::Jre, "Linux64JRE", "00000000017", made / "jre"}};
    return r;
  }

  TempDir made, channel, work;
  std::set<std::string> before;
  const std::set<std::string> written{"Velmoran-Velmoran-00000000002-archive.p2.l2",
                                      "Velmoran-MyApp-00000000002-archive.p2.l2",
                                      "Velmoran-Linux64JRE-00000000017-archive.p2.l2",
                                      "Velmoran-Linux64JRE-version.txt", "Velmoran-MyApp-manifest.p2"};
};

TEST_F(Channel, ManifestListsTheArchivesAsServed) {
  StagedChannel staged = stageChannel(channel.path(), release(), nullptr, work.path(), false);
  staged.commit();
  const std::optional<std::string> text =
      readArchiveEntry(channel / "Velmoran-MyApp-manifest.p2", kManifestEntryName, kMaxManifestBytes);
  ASSERT_TRUE(text);
  std::string fault;
  const std::optional<Manifest> m = parseManifest(*text, fault);
  ASSERT_TRUE(m) << fault;
  EXPECT_TRUE(m->required);
  EXPECT_FALSE(m->rollback);
  ASSERT_EQ(m->components.size(), 3u);
  for (const ManifestComponent& c : m->components) {
    const std::string served = channel / c.archive;
    EXPECT_EQ(c.size, testutil::readFile(served).size()) << c.archive;
    EXPECT_EQ(c.sha256, sha256HexOfFile(served)) << c.archive;
  }
  EXPECT_EQ(testutil::readFile(channel / "Velmoran-Linux64JRE-version.txt"), "00000000017\n");
}

// Nothing appears under its name before commit, and nothing is left when
// the run fails before it (the staged files go with their object).
TEST_F(Channel, NothingIsPublishedWithoutCommit) {
  {
    StagedChannel staged = stageChannel(channel.path(), release(), nullptr, work.path(), true);
    for (const std::string& name : written) EXPECT_FALSE(testutil::exists(channel / name)) << name;
  }
  EXPECT_EQ(listing(channel.path()), before);
}

TEST_F(Channel, EarlierArchivesStayUnlessPruned) {
  for (const bool prune : {false, true}) {
    SCOPED_TRACE(prune ? "pruned" : "kept");
    StagedChannel staged = stageChannel(channel.path(), release(), nullptr, work.path(), prune);
    staged.commit();
    std::set<std::string> expected = before;
    expected.insert(written.begin(), written.end());
    if (prune) {
      // Only the regular files of this channel's components; another
      // application's archive, a folder and a link of the same form stay.
      const std::vector<std::string> removed{"Velmoran-Linux64JRE-00000000016-archive.p2.l2",
                                             "Velmoran-MyApp-00000000001-archive.p2.l2",
                                             "Velmoran-Velmoran-00000000001-archive.p2.l2"};
      for (const std::string& name : removed) expected.erase(name);
      EXPECT_EQ(staged.pruned(), removed);
    }
    EXPECT_EQ(listing(channel.path()), expected);
  }
}

// Applications that share a folder share the updater's and a JRE's
// archives: what another one's manifest lists stays, and a manifest that
// cannot be read stops the pruning rather than leave it to a guess.
TEST_F(Channel, PruneKeepsWhatAnotherApplicationsManifestLists) {
  Release other;
  other.appName = "Other";
  other.pieces = {{ManifestKind::Updater, "Velmoran", "00000000001", made / "updater"},
                  {ManifestKind::Application, "Other", "00000000001", made / "app"},
                  {ManifestKind::Jre, "Linux64JRE", "00000000016", made / "jre"}};
  stageChannel(channel.path(), other, nullptr, work.path(), false).commit();
  StagedChannel staged = stageChannel(channel.path(), release(), nullptr, work.path(), true);
  staged.commit();
  EXPECT_EQ(staged.pruned(), std::vector<std::string>{"Velmoran-MyApp-00000000001-archive.p2.l2"});
  EXPECT_TRUE(testutil::exists(channel / "Velmoran-Velmoran-00000000001-archive.p2.l2"));
  EXPECT_TRUE(testutil::exists(channel / "Velmoran-Linux64JRE-00000000016-archive.p2.l2"));

  testutil::writeFile(channel / "Velmoran-Third-manifest.p2", "not an archive");
  testutil::writeFile(channel / "Velmoran-MyApp-00000000001-archive.p2.l2", "earlier");
  StagedChannel unsure = stageChannel(channel.path(), release(), nullptr, work.path(), true);
  unsure.commit();
  EXPECT_TRUE(unsure.pruned().empty());
  EXPECT_TRUE(testutil::exists(channel / "Velmoran-MyApp-00000000001-archive.p2.l2"));
}

}  // namespace
}  // namespace velmoran::pack
