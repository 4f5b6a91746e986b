#include "format/tail.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <random>

#include "test_support.h"

namespace velmoran {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using velmoran::testutil::MemStream;

// The marker tables written out by hand, independent of the launcher's own copy.
const unsigned char kTail[128] = {
    0x1D, 0x43, 0x2A, 0x50, 0x5B, 0x7A, 0x1F, 0x64, 0x23, 0x47, 0x21, 0x24, 0x17, 0x32, 0x3C, 0x50,
    0x21, 0x6C, 0x04, 0x66, 0x29, 0x5C, 0x29, 0x7B, 0x0B, 0x5B, 0x19, 0x33, 0x2F, 0x4F, 0x0F, 0x4D,
    0x27, 0x58, 0x18, 0x24, 0x15, 0x39, 0x4E, 0x79, 0x2B, 0x76, 0x15, 0x59, 0x3D, 0x57, 0x49, 0x00,
    0x11, 0x29, 0x05, 0x65, 0x2B, 0x10, 0x70, 0x66, 0x5E, 0x2D, 0x40, 0x60, 0x75, 0x43, 0x30, 0x08,
    0x61, 0x4A, 0x74, 0x7E, 0x40, 0x1B, 0x53, 0x3B, 0x56, 0x46, 0x37, 0x1E, 0x4B, 0x2C, 0x72, 0x59,
    0x30, 0x44, 0x3A, 0x3C, 0x2F, 0x44, 0x78, 0x2B, 0x26, 0x65, 0x71, 0x71, 0x39, 0x73, 0x25, 0x23,
    0x10, 0x14, 0x51, 0x24, 0x31, 0x70, 0x10, 0x4A, 0x0D, 0x05, 0x57, 0x2A, 0x06, 0x0A, 0x53, 0x21,
    0x4D, 0x2C, 0x13, 0x00, 0x36, 0x29, 0x1A, 0x74, 0x47, 0x2D, 0x1A, 0x55, 0x2C, 0x2F, 0x42, 0x63,
};
const unsigned char kParams[64] = {
    0x59, 0xBD, 0xC9, 0x52, 0xAA, 0x35, 0xAD, 0xBB, 0x10, 0xEF, 0xDE, 0x67, 0x2C, 0x47, 0xE0, 0xB5,
    0xD4, 0x82, 0x1F, 0x81, 0x52, 0xA1, 0x02, 0x44, 0x2A, 0xEB, 0xAA, 0x7B, 0x79, 0x3B, 0x93, 0x45,
    0xAE, 0xD2, 0x09, 0x7A, 0x3E, 0x2F, 0x2E, 0xFA, 0xFF, 0x1D, 0xF0, 0x9B, 0x19, 0x7C, 0x15, 0xB8,
    0x1E, 0x6D, 0xC6, 0x10, 0x41, 0x7E, 0x5C, 0xED, 0x51, 0xB1, 0x19, 0x1C, 0x3C, 0xE2, 0x94, 0xD8,
};

const std::string kTailBytes(reinterpret_cast<const char*>(kTail), sizeof kTail);
const std::string kParamsBytes(reinterpret_cast<const char*>(kParams), sizeof kParams);

TEST(Markers, AreAssembledWithTheDocumentedBytes) {
  EXPECT_EQ(allocAndInitMarker(), std::vector<unsigned char>(kTail, kTail + 128));
  EXPECT_EQ(allocAndInitParamsMarker(), std::vector<unsigned char>(kParams, kParams + 64));
}

int64_t scan(const std::string& bytes, const std::string& marker, std::string* rest = nullptr) {
  MemStream in(bytes);
  const std::vector<unsigned char> m(marker.begin(), marker.end());
  const int64_t at = scanToMarker(in.stream, m, "Tail");
  if (rest != nullptr && at >= 0) {
    rest->clear();
    for (int c; (c = std::fgetc(in.stream)) != EOF;) rest->push_back(static_cast<char>(c));
  }
  return at;
}

TEST(ScanToMarker, ReturnsTheOffsetAfterTheMarkerAndLeavesTheStreamThere) {
  std::string rest;
  EXPECT_EQ(scan("xyz" + kTailBytes + "after", kTailBytes, &rest), 3 + 128);
  EXPECT_EQ(rest, "after");
  EXPECT_EQ(scan(kTailBytes, kTailBytes, &rest), 128);
  EXPECT_EQ(rest, "");
}

TEST(ScanToMarker, ByteThatBreaksAPartialMatchIsNotANewStart) {
  // 1D 1D 43 2A ...: the second 1D breaks the match begun by the first and is
  // not tried again, so only the later copy is found.
  const std::string bytes = "\x1D" + kTailBytes + "--" + kTailBytes + "end";
  std::string rest;
  EXPECT_EQ(scan(bytes, kTailBytes, &rest), 1 + 128 + 2 + 128);
  EXPECT_EQ(rest, "end");
  // A break late in the marker behaves the same.
  std::string broken = kTailBytes.substr(0, 100) + kTailBytes;
  EXPECT_EQ(scan(broken, kTailBytes), -1);
}

TEST(ScanToMarker, RealFileIsLeftJustAfterTheMarker) {
  // Regular files are scanned through a mapping; the stream must still end up
  // where the byte-by-byte scan would leave it, also when it did not start at 0.
  velmoran::testutil::TempDir dir;
  const std::string path = dir / "launcher";
  velmoran::testutil::writeFile(path, "head" + kParamsBytes + "one" + kParamsBytes + "two");
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  const std::vector<unsigned char> marker(kParamsBytes.begin(), kParamsBytes.end());
  EXPECT_EQ(scanToMarker(f, marker, "Params"), 4 + 64);
  EXPECT_EQ(std::fgetc(f), 'o');
  EXPECT_EQ(scanToMarker(f, marker, "Params"), 2 + 64);
  EXPECT_EQ(std::fgetc(f), 't');
  CaptureStdout();
  EXPECT_EQ(scanToMarker(f, marker, "Params"), -1);
  EXPECT_NE(GetCapturedStdout().find("Could not find marker: Params\n"), std::string::npos);
  std::fclose(f);
}

TEST(ScanToMarker, PipeIsLeftJustAfterTheMarker) {
  // A pipe cannot seek back, so the scan must not read ahead of the marker.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string bytes = "head" + kParamsBytes + std::string("3\0name\0", 7);
  ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fds[1]);
  FILE* f = fdopen(fds[0], "rb");
  ASSERT_NE(f, nullptr);
  const std::vector<unsigned char> marker(kParamsBytes.begin(), kParamsBytes.end());
  EXPECT_EQ(scanToMarker(f, marker, "Params"), 4 + 64);
  EXPECT_EQ(std::fgetc(f), '3');
  std::fclose(f);
}

TEST(ScanToMarker, MissingMarkerLogsItsLabel) {
  CaptureStdout();
  EXPECT_EQ(scan("", kTailBytes), -1);
  EXPECT_EQ(scan(kTailBytes.substr(0, 127), kTailBytes), -1);
  const std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("Could not find marker: Tail\n"), std::string::npos);
}

TEST(ScanToMarker, FindsAMarkerAcrossReadBlocks) {
  // The scan reads in blocks; put the marker across a block boundary.
  std::string bytes((128 * 1024) - 40, '\x59');
  bytes += kParamsBytes + "tail";
  std::string rest;
  EXPECT_EQ(scan(bytes, kParamsBytes, &rest), static_cast<int64_t>(bytes.size() - 4));
  EXPECT_EQ(rest, "tail");
}

TEST(ScanToMarker, FindMarkerEndAgreesWithTheStreamScan) {
  const std::string bytes = "\x59\x59" + kParamsBytes.substr(0, 63) + "!" + kParamsBytes + "z";
  const std::vector<unsigned char> data(bytes.begin(), bytes.end());
  const std::vector<unsigned char> marker(kParamsBytes.begin(), kParamsBytes.end());
  EXPECT_EQ(findMarkerEnd(data, marker), scan(bytes, kParamsBytes));
  EXPECT_EQ(findMarkerEnd(data, marker), static_cast<int64_t>(bytes.size() - 1));
}

// The matching rule written out byte by byte, as the reference for the fast scan.
int64_t referenceScan(const std::vector<unsigned char>& bytes, const std::vector<unsigned char>& marker) {
  std::size_t matched = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    matched = bytes[i] == marker[matched] ? matched + 1 : 0;
    if (matched == marker.size()) return static_cast<int64_t>(i + 1);
  }
  return -1;
}

TEST(ScanToMarker, AgreesWithTheByteByByteRuleOnAdversarialInput) {
  // Inputs drawn mostly from the marker's own bytes and its prefixes, fed in
  // blocks of random sizes, so runs of first bytes, broken pairs and block
  // edges inside partial matches all occur.
  std::mt19937 random(12345);
  const std::vector<std::vector<unsigned char>> markers = {
      {1, 2, 3, 4}, {1, 2, 1, 2, 1, 3}, {7, 7, 8}, allocAndInitParamsMarker(), allocAndInitMarker()};
  for (const auto& marker : markers) {
    for (int round = 0; round < 2000; ++round) {
      std::vector<unsigned char> bytes;
      const int pieces = static_cast<int>(random() % 60);
      for (int k = 0; k < pieces; ++k) {
        switch (random() % 4) {
          case 0: bytes.push_back(marker[0]); break;
          case 1: bytes.push_back(marker[random() % marker.size()]); break;
          case 2: {
            const std::size_t len = random() % (marker.size() + 1);
            bytes.insert(bytes.end(), marker.begin(), marker.begin() + static_cast<std::ptrdiff_t>(len));
            break;
          }
          default: bytes.push_back(static_cast<unsigned char>(random())); break;
        }
      }
      const int64_t expected = referenceScan(bytes, marker);

      MarkerMatcher matcher(marker);
      int64_t got = -1;
      std::size_t at = 0;
      while (at < bytes.size() && got < 0) {
        const std::size_t len = std::min<std::size_t>(bytes.size() - at, 1 + random() % 40);
        if (const unsigned char* after = matcher.feed(bytes.data() + at, bytes.data() + at + len)) {
          got = after - bytes.data();
        }
        at += len;
      }
      ASSERT_EQ(got, expected) << "marker of " << marker.size() << " bytes, round " << round;
    }
  }
}

// Every copy of the pair search (16 and 32 bytes a step) finds the first
// pair wherever it stands relative to the steps, also across a step's last
// byte and in the bytes left over after the last whole step.
TEST(BytePairSearch, EveryCopyFindsTheFirstPairAtEveryOffset) {
  std::mt19937 random(7);
  for (const BytePairFinder find : bytePairFinders()) {
    for (std::size_t size : {0u, 1u, 2u, 31u, 33u, 64u, 65u, 66u, 129u, 200u}) {
      std::vector<unsigned char> bytes(size);
      for (auto& b : bytes) b = static_cast<unsigned char>(random() % 3);  // many lone 1s and 2s
      for (std::size_t at = 0; at < size; ++at) {
        std::vector<unsigned char> planted = bytes;
        if (at + 1 < size) planted[at] = 1, planted[at + 1] = 2;
        std::size_t expected = size;
        for (std::size_t i = 0; i + 1 < size; ++i) {
          if (planted[i] == 1 && planted[i + 1] == 2) {
            expected = i;
            break;
          }
        }
        const unsigned char* got = find(planted.data(), planted.data() + size, 1, 2);
        ASSERT_EQ(static_cast<std::size_t>(got - planted.data()), expected) << "size " << size << ", pair at " << at;
      }
    }
  }
}

struct ShrinkCase {
  const char* label;
  off_t markerAt;
  off_t cutTo;     // the file's length when the scan reads it; mapped at 4 MiB
  int64_t result;  // what the scan returns
};

void PrintTo(const ShrinkCase& c, std::ostream* os) { *os << c.label; }

class ShrinkingLauncherFile : public ::testing::TestWithParam<ShrinkCase> {};

// The file was 4 MiB when the scan measured and mapped it, and has shrunk
// since: reading past its new end raises SIGBUS, which must end the scan at
// that end and not the process, with SIGBUS's handling as it was afterwards.
TEST_P(ShrinkingLauncherFile, EndsTheScanWhereTheFileNowEnds) {
  const ShrinkCase& c = GetParam();
  constexpr off_t kMapped = 4 << 20;
  testutil::TempDir dir;
  const std::string path = dir / "launcher";
  std::string bytes(kMapped, 'x');
  bytes.replace(static_cast<std::size_t>(c.markerAt), kParamsBytes.size(), kParamsBytes);
  testutil::writeFile(path, bytes);
  EXPECT_EXIT(
      {
        // Whatever handled SIGBUS before (the default, or a sanitizer's).
        struct sigaction before {};
        sigaction(SIGBUS, nullptr, &before);
        const int fd = open(path.c_str(), O_RDONLY);
        const bool truncated = truncate(path.c_str(), c.cutTo) == 0;
        const std::vector<unsigned char> marker(kParamsBytes.begin(), kParamsBytes.end());
        MarkerMatcher matcher(marker);
        const std::optional<int64_t> consumed = scanMappedFile(fd, 0, kMapped, matcher);
        struct sigaction after {};
        sigaction(SIGBUS, nullptr, &after);
        const bool restored = after.sa_handler == before.sa_handler;
        std::_Exit(truncated && consumed == c.result && restored ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, ShrinkingLauncherFile,
    ::testing::Values(ShrinkCase{"Unchanged", 3 << 20, 4 << 20, (3 << 20) + 64},
                      ShrinkCase{"MarkerBeforeTheCut", 1 << 19, 1 << 20, (1 << 19) + 64},
                      ShrinkCase{"MarkerCutAway", 3 << 20, 1 << 20, -1},
                      ShrinkCase{"CutInsideAPage", 3 << 20, (1 << 20) + 100, -1},
                      ShrinkCase{"Emptied", 3 << 20, 0, -1}));

// A Params section as the builder lays it out, and the same cut short or
// with its end marker damaged; the check leaves the stream where it was.
TEST(ParamsArea, IsWholeOnlyWithItsEndMarkerRightAfterIt) {
  const std::string pairs = std::string("1\0jre_name\0MyJre\0", 17);
  const std::string end(kParamsBytes.rbegin(), kParamsBytes.rend());
  const std::string area = pairs + std::string(kParamsAreaSize - pairs.size(), '\0');
  const std::string whole = area + end;
  std::string damaged = whole;
  damaged[kParamsAreaSize + 10] ^= 1;
  const struct {
    const char* name;
    std::string bytes;
    bool isWhole;
  } cases[] = {
      {"whole", whole, true},
      {"followed by more", whole + "appended", true},
      {"cut in the pairs", whole.substr(0, 12), false},
      {"cut in the padding", whole.substr(0, kParamsAreaSize - 1), false},
      {"cut in the end marker", whole.substr(0, whole.size() - 1), false},
      {"end marker damaged", damaged, false},
      {"area one byte longer", area + '\0' + end, false},
  };
  for (const auto& c : cases) {
    MemStream in(c.bytes);
    EXPECT_EQ(paramsAreaIsWhole(in.stream), c.isWhole) << c.name;
    EXPECT_EQ(std::ftell(in.stream), 0) << c.name;
  }
}

// The tail's entries end where a Params section after them begins; one that
// lies before the tail bounds nothing.
TEST(TailEntries, EndWhereTheParamsSectionAfterThemBegins) {
  const struct {
    const char* name;
    std::string bytes;
    off_t tail;
    off_t params;
    std::string entries;
  } cases[] = {
      {"Params after the tail", "tail entries" + kParamsBytes + "area", 0, 12, "tail entries"},
      {"Params before the tail", "area" + kParamsBytes + "tail entries", 68, 4, "tail entries"},
      {"Params right at the tail", kParamsBytes + "area", 0, 0, ""},
  };
  for (const auto& c : cases) {
    testutil::TempDir dir;
    testutil::writeFile(dir / "launcher", c.bytes);
    FilePtr in = openForReading(dir / "launcher");
    ASSERT_EQ(fseeko(in.get(), c.tail, SEEK_SET), 0);
    FilePtr tail = endTailAtParams(std::move(in), c.params);
    ASSERT_TRUE(tail) << c.name;
    std::string read(100, '\0');
    read.resize(std::fread(read.data(), 1, read.size(), tail.get()));
    EXPECT_EQ(read, c.entries) << c.name;
  }
}

TEST(TailHeader, ReadsElevenFieldsInOrder) {
  std::string bytes;
  const char* values[] = {"MyApp", "00054022298", "", "00035090611", "850", "3082", "0", "perm_user", "--quiet",
                          "8", "http://127.0.0.255/"};
  for (const char* v : values) bytes += std::string(v) + '\0';
  bytes += "1";  // the first entry's type follows
  MemStream in(bytes);
  const TailHeader h = readTailHeader(in.stream);
  EXPECT_EQ(h.appName, "MyApp");
  EXPECT_EQ(h.appVersion, "00054022298");
  EXPECT_EQ(h.jreVersion, "");
  EXPECT_EQ(h.guVersion, "00035090611");
  EXPECT_EQ(h.minSplashMs, "850");
  EXPECT_EQ(h.signaturePublicKey, "3082");
  EXPECT_EQ(h.canOverrideSplash, "0");
  EXPECT_EQ(h.installType, "perm_user");
  EXPECT_EQ(h.silentParameter, "--quiet");
  EXPECT_EQ(h.requiredJavaVersion, "8");
  EXPECT_EQ(h.updateUrl, "http://127.0.0.255/");
  EXPECT_EQ(std::fgetc(in.stream), '1');
}

TEST(TailHeader, FieldLimitsFollowTheReaderSizes) {
  EXPECT_EQ(kTailHeaderFields[5].size - 1, 8191u);  // Signature Public Key
  EXPECT_EQ(kTailHeaderFields[10].size - 1, 4999u);  // Update URL
  for (std::size_t i : {0u, 1u, 2u, 3u, 4u, 6u, 7u, 8u, 9u}) EXPECT_EQ(kTailHeaderFields[i].size, 1024u);
}

TEST(LauncherBinary, HoldsNeitherMarker) {
  const std::string image = velmoran::testutil::readFile(VELMORAN_LAUNCHER_BIN);
  ASSERT_GT(image.size(), 10000u);
  EXPECT_EQ(image.find(kTailBytes), std::string::npos);
  EXPECT_EQ(image.find(kParamsBytes), std::string::npos);
}

}  // namespace
}  // namespace velmoran
