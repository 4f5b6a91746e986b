#include "jar_scan.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cli.h"
#include "test_support.h"

namespace velmoran::pack {
namespace {

using testutil::TempDir;

std::string le(uint64_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}

// A central directory entry: the fields the reader uses, the rest zero.
std::string entry(const std::string& name, const std::string& extra = "") {
  return le(0x02014b50, 4) + std::string(24, '\0') + le(name.size(), 2) + le(extra.size(), 2) + le(0, 2) +
         std::string(12, '\0') + name + extra;
}

std::string endRecord(uint64_t count, uint64_t dirSize, uint64_t dirOffset, const std::string& comment = "") {
  return le(0x06054b50, 4) + std::string(4, '\0') + le(count, 2) + le(count, 2) + le(dirSize, 4) + le(dirOffset, 4) +
         le(comment.size(), 2) + comment;
}

// Some file data, then a directory of the names and its end record.
std::string zip(const std::vector<std::string>& names, const std::string& comment = "") {
  std::string data = "local headers and file data";
  std::string dir;
  for (const std::string& n : names) dir += entry(n);
  return data + dir + endRecord(names.size(), dir.size(), data.size(), comment);
}

std::string zip64(const std::vector<std::string>& names) {
  std::string data = "data";
  std::string dir;
  for (const std::string& n : names) dir += entry(n);
  const uint64_t end64At = data.size() + dir.size();
  const std::string end64 = le(0x06064b50, 4) + le(44, 8) + std::string(4 + 8, '\0') + le(names.size(), 8) +
                            le(names.size(), 8) + le(dir.size(), 8) + le(data.size(), 8);
  const std::string locator = le(0x07064b50, 4) + le(0, 4) + le(end64At, 8) + le(1, 4);
  return data + dir + end64 + locator + endRecord(0xffff, 0xffffffff, 0xffffffff);
}

std::set<std::string> namesOf(const std::string& bytes) {
  TempDir dir;
  testutil::writeFile(dir / "a.jar", bytes);
  return jarEntryNames(dir / "a.jar");
}

// As check reads a jar inside an archive: from its last bytes in memory.
JarListing listingOf(const std::string& bytes, std::size_t kept) {
  const auto* end = reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size();
  return jarEntryNames(std::span<const unsigned char>(end - kept, kept), bytes.size());
}

TEST(JarScan, ListsTheDirectory) {
  const std::set<std::string> expected = {"META-INF/MANIFEST.MF", "com/example/Main.class"};
  EXPECT_EQ(namesOf(zip({"META-INF/MANIFEST.MF", "com/example/Main.class"})), expected);
  // A comment after the end record, itself holding the record's signature.
  EXPECT_EQ(namesOf(zip({"com/example/Main.class"}, "PK\x05\x06 in a comment")), std::set<std::string>{"com/example/Main.class"});
  EXPECT_EQ(namesOf(zip64({"com/example/Main.class"})), std::set<std::string>{"com/example/Main.class"});
  EXPECT_EQ(namesOf(zip({})), std::set<std::string>{});
}

TEST(JarScan, ListsTheDirectoryFromTheLastBytes) {
  const std::string jar = zip({"com/example/Main.class"});
  const std::size_t directory = jar.size() - std::string("local headers and file data").size();
  EXPECT_EQ(listingOf(jar, directory).names, std::set<std::string>{"com/example/Main.class"});
  EXPECT_FALSE(listingOf(jar, directory).fault);
  // Bytes that begin inside the directory are a fault, never a shorter list.
  EXPECT_TRUE(listingOf(jar, directory - 1).fault);
  EXPECT_TRUE(listingOf(jar, directory - 1).names.empty());
}

struct Damaged {
  const char* name;
  std::function<std::string()> bytes;
};

class JarScanDamaged : public testing::TestWithParam<Damaged> {};

// Every stated count, size and offset is checked against what is there.
TEST_P(JarScanDamaged, IsRefusedWithTheFileNamed) {
  TempDir dir;
  const std::string bytes = GetParam().bytes();
  EXPECT_TRUE(listingOf(bytes, bytes.size()).fault);
  testutil::writeFile(dir / "a.jar", bytes);
  try {
    jarEntryNames(dir / "a.jar");
    FAIL() << "accepted";
  } catch (const Failure& e) {
    EXPECT_NE(e.message.find(dir / "a.jar"), std::string::npos) << e.message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JarScanDamaged,
    testing::Values(
        Damaged{"Empty", [] { return std::string(); }},
        Damaged{"NoEndRecord", [] { return std::string(100, 'x'); }},
        Damaged{"CommentLongerThanTheFile", [] { return zip({"a"}, "c").substr(0, zip({"a"}, "c").size() - 1); }},
        Damaged{"DirectoryPastTheEnd", [] { return "data" + endRecord(1, 46, 1000); }},
        Damaged{"DirectoryOverlapsTheEndRecord", [] { return entry("a") + endRecord(1, 1000, 0); }},
        Damaged{"MoreEntriesThanTheDirectoryHolds",
                [] { const std::string d = entry("a"); return d + endRecord(2, d.size(), 0); }},
        Damaged{"NameRunsPastTheDirectory",
                [] { const std::string d = entry("abc").substr(0, 47); return d + endRecord(1, d.size(), 0); }},
        Damaged{"WrongEntrySignature",
                [] { std::string d = entry("a"); d[0] = 'X'; return d + endRecord(1, d.size(), 0); }},
        Damaged{"Zip64LocatorMissing", [] { return entry("a") + endRecord(0xffff, 46, 0); }},
        Damaged{"Zip64RecordPastTheEnd", [] {
          return le(0x07064b50, 4) + le(0, 4) + le(1u << 30, 8) + le(1, 4) + endRecord(0xffff, 0, 0);
        }}),
    [](const testing::TestParamInfo<Damaged>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmoran::pack
