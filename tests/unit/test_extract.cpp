#include "archive/extract.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "log_capture.h"
#include "test_support.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/paths.h"

namespace velmoran {
namespace {

using testutil::exists;
using testutil::LogCapture;
using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

// Hand-written bytes: a folder docs holding the two-byte file a.txt.
const std::string kDocsArchive("\x31\x00\x64\x6F\x63\x73\x00\x30\x00\x64\x6F\x63\x73\x2F\x61\x2E\x74\x78\x74\x00\x32\x00\x68\x69",
                               24);

std::string field(const std::string& text) { return text + std::string(1, '\0'); }
std::string folderEntry(const std::string& path) { return field("1") + field(path); }
std::string fileEntry(const std::string& path, const std::string& data, int type = 0) {
  return field(std::to_string(type)) + field(path) + field(std::to_string(data.size())) + data;
}

std::string lzmaAlone(const std::string& data) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 0);  // fast; the format is the same
  lzma_stream strm = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_alone_encoder(&strm, &options), LZMA_OK);
  std::string out(data.size() + data.size() / 2 + 4096, '\0');
  strm.next_in = reinterpret_cast<const uint8_t*>(data.data());
  strm.avail_in = data.size();
  strm.next_out = reinterpret_cast<uint8_t*>(out.data());
  strm.avail_out = out.size();
  EXPECT_EQ(lzma_code(&strm, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(strm.total_out);
  lzma_end(&strm);
  return out;
}

// Bytes that vary, so a misplaced or lost piece shows: a block of 64 KiB of
// noise, each copy stamped with its number. LZMA shrinks the copies to a few
// bytes each, so tests of large entries compress and decode quickly.
std::string noise(std::size_t size, unsigned seed = 1) {
  constexpr std::size_t kBlock = 65536;
  std::string block(kBlock, '\0');
  for (auto& c : block) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  std::string out;
  out.reserve(size + kBlock);
  for (std::size_t n = 0; out.size() < size; ++n) out += std::to_string(n) + block;
  out.resize(size);
  return out;
}

// The statement's outcome is a failure with the status, and the log holds the text.
#define EXPECT_FAILS(statement, exitCode, expected)                        \
  do {                                                                   \
    LogCapture log_;                                                     \
    const auto outcome_ = (statement);                                   \
    EXPECT_FALSE(outcome_.ok());                                         \
    EXPECT_EQ(outcome_.status().exitStatus(), exitCode);                 \
    EXPECT_TRUE(log_.contains(expected)) << log_.text();                 \
  } while (false)

class Extract : public testing::Test {
 protected:
  void SetUp() override {
    dest = dir / "dest";
    makeDir(dest);
  }

  // Extracts the bytes as an archive file; the archive file is gone afterwards.
  Result<bool> extractOutcome(const std::string& bytes, const rsa_key* key = nullptr,
                              const std::optional<std::string>& unpack200 = std::nullopt) {
    const std::string archive = dir / "in.arc";
    writeFile(archive, bytes);
    return extractArchive(unpack200, archive, dest, key);
  }
  // The same for an archive that does not fail: whether it was accepted.
  bool extract(const std::string& bytes, const rsa_key* key = nullptr,
               const std::optional<std::string>& unpack200 = std::nullopt) {
    const Result<bool> accepted = extractOutcome(bytes, key, unpack200);
    EXPECT_TRUE(accepted.ok()) << "failed with " << accepted.status().exitStatus();
    EXPECT_FALSE(exists(dir / "in.arc"));
    return accepted.ok() && *accepted;
  }

  // Extracts the bytes as one entry after another from a stream, as the
  // wrapper tail's entries are; whether each was accepted, or the failure.
  Result<std::vector<bool>> tailOutcome(const std::string& bytes, int count, const rsa_key* key = nullptr) {
    writeFile(dir / "tail", bytes);
    FilePtr in = openFile((dir / "tail").c_str(), "rb");
    std::vector<bool> accepted;
    for (int i = 0; i < count; ++i) {
      const Result<bool> one = extractArchiveFileIgnoreSignature(dir / "lzma64", std::nullopt, dest, in.get(), key);
      if (!one.ok()) return one.status();
      accepted.push_back(*one);
    }
    tailLeft = ftello(in.get());
    return accepted;
  }
  std::vector<bool> extractTailEntries(const std::string& bytes, int count, const rsa_key* key = nullptr) {
    const Result<std::vector<bool>> accepted = tailOutcome(bytes, count, key);
    EXPECT_TRUE(accepted.ok()) << "failed with " << accepted.status().exitStatus();
    return accepted.ok() ? *accepted : std::vector<bool>{};
  }

  // An unpack200 stand-in that copies its input to its output.
  std::string copyingUnpack200(const std::string& body = "cp \"$1\" \"$2\"") {
    const std::string path = dir / "unpack200";
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path;
  }

  TempDir dir;
  std::string dest;
  int64_t tailLeft = 0;
};

TEST_F(Extract, HandWrittenBytes) {
  LogCapture log;
  EXPECT_TRUE(extract(kDocsArchive));
  EXPECT_EQ(readFile(dest + "/docs/a.txt"), "hi");
  EXPECT_EQ(log.text(), "[ExtractArchive] Extracting archive " + dir / "in.arc" + " into " + dest + "\n" +
                            "[ExtractArchiveFile] Extracting docs (::1)\n" +
                            "[ChMod] Executing chmod 755 \"" + dest + "/docs\"\n" +
                            "\t[ExtractArchiveFile] Created folder " + dest + "/docs\n" +
                            "[ExtractArchiveFile] Extracting docs/a.txt (::0)\n" +
                            "\t[ExtractArchiveFile] Extracting to " + dest + "/docs/a.txt\n" +
                            "[ChMod] Executing chmod -R 755 \"" + dest + "/docs/a.txt\"\n" +
                            "[ExtractArchive] Done extracting archive.\n");
}

TEST_F(Extract, FoldersArePathsOnly) {
  // A folder entry has no length: the next entry starts right after its path.
  // Files need no folder entries for their parents; an empty type field ends
  // the entries even with bytes after it.
  EXPECT_TRUE(extract(folderEntry("empty") + fileEntry("a/b/file.txt", "deep") + fileEntry("x", std::string("\0\1\2", 3), 7) +
                      field("") + fileEntry("after-end", "no")));
  struct stat st;
  ASSERT_EQ(stat((dest + "/empty").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(readFile(dest + "/a/b/file.txt"), "deep");
  EXPECT_EQ(readFile(dest + "/x"), std::string("\0\1\2", 3));
  EXPECT_EQ(testutil::modeOf(dest + "/x"), 0755);
  EXPECT_FALSE(exists(dest + "/after-end"));
}

TEST_F(Extract, EmptyFileIsNotCreated) {
  testing::internal::CaptureStdout();
  EXPECT_TRUE(extract(fileEntry("empty.txt", "") + fileEntry("next", "n")));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("[ExtractArchiveFile] Skipping empty file"), std::string::npos);
  EXPECT_FALSE(exists(dest + "/empty.txt"));
  EXPECT_EQ(readFile(dest + "/next"), "n");
}

TEST_F(Extract, LargeFileCrossesTheCopyBuffer) {
  const std::string big = noise(2500000);
  EXPECT_TRUE(extract(fileEntry("big", big) + fileEntry("small", "s")));
  EXPECT_EQ(readFile(dest + "/big"), big);
  EXPECT_EQ(readFile(dest + "/small"), "s");
}

TEST_F(Extract, SpecialBlocksOtherThanTheSignatureAreFiles) {
  LogCapture log;
  EXPECT_TRUE(extract(fileEntry("vlArcSpBlock_Other", "data") + fileEntry("later", "l")));
  EXPECT_EQ(readFile(dest + "/vlArcSpBlock_Other"), "data");
  EXPECT_EQ(readFile(dest + "/later"), "l");
  EXPECT_TRUE(log.contains("[ExtractArchiveFile] Found special block vlArcSpBlock_Other\n"));
  EXPECT_FALSE(log.contains("Found signature block"));
}

TEST_F(Extract, Pack200EntriesAreUnpacked) {
  const std::string packed = "\xCA\xFE\xD0\x0Dpacked";
  EXPECT_TRUE(extract(fileEntry("lib/x.jar", packed, 2), nullptr, copyingUnpack200()));
  EXPECT_EQ(readFile(dest + "/lib/x.jar"), packed);
  EXPECT_FALSE(exists(dest + "/lib/x.jar.p2"));
}

TEST_F(Extract, Pack200WithoutOutputEndsTheRun) {
  // A stale file of the output's name must not pass for unpack200's work.
  makeDir(dest + "/lib");
  writeFile(dest + "/lib/x.jar", "stale");
  const std::string unpack200 = copyingUnpack200("exit 0");
  const std::string bytes = fileEntry("lib/x.jar", "packed", 2);
  EXPECT_FAILS(extractOutcome(bytes, nullptr, unpack200), 101, "ERROR: unpack200 (" + dest + "/lib/x.jar) does not exist!");
  const std::string failing = copyingUnpack200("cp \"$1\" \"$2\"; exit 3");
  EXPECT_FAILS(extractOutcome(bytes, nullptr, failing), 101, "does not exist!");
  EXPECT_FAILS(extractOutcome(bytes), 101, "does not exist!");
}

TEST_F(Extract, InsideAnArchiveSuffixesMeanNothing) {
  EXPECT_TRUE(extract(fileEntry("y.p2", kDocsArchive) + fileEntry("z.l2", lzmaAlone("zz"))));
  EXPECT_EQ(readFile(dest + "/y.p2"), kDocsArchive);
  EXPECT_EQ(readFile(dest + "/z.l2"), lzmaAlone("zz"));
  EXPECT_FALSE(exists(dest + "/docs"));
}

TEST_F(Extract, MissingArchiveEndsTheRun) {
  LogCapture log;
  EXPECT_FAILS(extractArchive(std::nullopt, dir / "missing", dest, nullptr), 1, "couldn't open file " + dir / "missing");
}

// Entries of the wrapper tail, read one after the other from one stream.

TEST_F(Extract, TailArchiveIsDecompressedAndExtracted) {
  const std::string inner = kDocsArchive + fileEntry("lib/big.bin", noise(3000000)) + fileEntry("y.p2", "yy") +
                            fileEntry("z.l2", "zz");
  const std::string tail = fileEntry("Velmoran-App-00000000001-archive.p2.l2", lzmaAlone(inner)) +
                           fileEntry("Velmoran-App-version.txt", "00000000001") + "rest";
  LogCapture log;
  EXPECT_EQ(extractTailEntries(tail, 2), (std::vector<bool>{true, true}));
  EXPECT_EQ(tailLeft, static_cast<int64_t>(tail.size() - 4));
  EXPECT_EQ(readFile(dest + "/docs/a.txt"), "hi");
  EXPECT_EQ(readFile(dest + "/lib/big.bin"), noise(3000000));
  EXPECT_EQ(readFile(dest + "/y.p2"), "yy");
  EXPECT_EQ(readFile(dest + "/z.l2"), "zz");
  EXPECT_EQ(readFile(dest + "/Velmoran-App-version.txt"), "00000000001");
  EXPECT_FALSE(exists(dest + "/Velmoran-App-00000000001-archive.p2.l2"));
  EXPECT_FALSE(exists(dest + "/Velmoran-App-00000000001-archive.p2"));
  const std::string l2 = dest + "/Velmoran-App-00000000001-archive.p2.l2";
  const std::string p2 = dest + "/Velmoran-App-00000000001-archive.p2";
  EXPECT_TRUE(log.contains("[ExtractArchiveFile] Extracting Velmoran-App-00000000001-archive.p2.l2 (::0)\n"
                           "\t[ExtractArchiveFile] Extracting to " + l2 + "\n"
                           "\t[ExtractArchiveFile] Requires un-LZMA\n"
                           "\t[ExtractArchiveFile] Created outpath " + p2 + " and spawning\n"
                           "\t[ExtractArchiveFile] Finished decompressing\n"
                           "\t[ExtractArchiveFile] Starting un-p2Archiving\n"
                           "[ExtractArchive] Extracting archive " + p2 + " into " + dest + "\n"
                           "[ExtractArchiveFile] Extracting docs (::1)\n"))
      << log.text();
  EXPECT_TRUE(log.contains("[ExtractArchive] Done extracting archive.\n"
                           "\t[ExtractArchiveFile] Finished un-archiving\n"
                           "[ExtractArchiveFile] Extracting Velmoran-App-version.txt (::0)\n"));
}

TEST_F(Extract, TailFilesWithOneSuffix) {
  // ".l2" alone is decompressed to a file; ".p2" alone is extracted as an archive.
  const std::string tail = fileEntry("notes.txt.l2", lzmaAlone("compressed notes")) + fileEntry("plain.p2", kDocsArchive) +
                           fileEntry("lzma64", "\x7f" "ELF") + fileEntry("ab", "short");
  EXPECT_EQ(extractTailEntries(tail, 4), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(readFile(dest + "/notes.txt"), "compressed notes");
  EXPECT_FALSE(exists(dest + "/notes.txt.l2"));
  EXPECT_EQ(readFile(dest + "/docs/a.txt"), "hi");
  EXPECT_FALSE(exists(dest + "/plain.p2"));
  EXPECT_EQ(readFile(dest + "/lzma64"), "\x7f" "ELF");
  EXPECT_EQ(readFile(dest + "/ab"), "short");
}

// Faults in the input end the run before anything lands outside the
// destination, and never leave a partly written file.

class UnsafePath : public Extract, public testing::WithParamInterface<const char*> {};

TEST_P(UnsafePath, IsRefusedBeforeWriting) {
  const std::string bytes = fileEntry("ok.txt", "fine") + fileEntry(GetParam(), "evil");
  EXPECT_FAILS(extractOutcome(bytes), 1, "leads outside the destination");
  EXPECT_FAILS(extractOutcome(folderEntry(GetParam())), 1, "leads outside the destination");
  EXPECT_FALSE(exists(dir / "evil"));
  EXPECT_FALSE(exists(dir / "evil.txt"));
  EXPECT_FALSE(exists(dest + "/sub"));
}

INSTANTIATE_TEST_SUITE_P(Paths, UnsafePath,
                         testing::Values("../evil", "sub/../../evil", "..", "sub/..", "/tmp/velmoran-evil-abs"));

TEST_F(Extract, AbsolutePathTouchesNothing) {
  EXPECT_FAILS(extractOutcome(fileEntry(dir / "evil.txt", "x")), 1, "outside");
  EXPECT_FALSE(exists(dir / "evil.txt"));
}

TEST_F(Extract, DotsInsideNamesAreFine) {
  EXPECT_TRUE(extract(fileEntry("a..b/..c", "ok") + fileEntry("./d", "dot")));
  EXPECT_EQ(readFile(dest + "/a..b/..c"), "ok");
  EXPECT_EQ(readFile(dest + "/d"), "dot");
}

TEST_F(Extract, TruncatedEntryEndsTheRun) {
  const std::string whole = fileEntry("cut.bin", noise(1500000));
  EXPECT_FAILS(extractOutcome(whole.substr(0, whole.size() - 10)), 1, "ends after 1499990 of the 1500000 bytes of cut.bin");
  EXPECT_FALSE(exists(dest + "/cut.bin"));
  EXPECT_FAILS(extractOutcome(field("0") + field("neg") + field("-5") + "x"), 1, "negative length");
  // A header cut short must not pass for an empty file or for the end of the entries.
  EXPECT_FAILS(extractOutcome(kDocsArchive + field("0") + field("cut")), 1, "ends inside the header of the entry cut;");
  EXPECT_FAILS(extractOutcome(kDocsArchive + field("0") + "cu"), 1, "ends inside the header of the entry cu;");
  EXPECT_FAILS(extractOutcome(kDocsArchive + field("1") + "dir"), 1, "ends inside the header of the entry dir;");
  EXPECT_FALSE(exists(dest + "/dir"));
}

TEST_F(Extract, TruncatedTailArchiveEndsTheRun) {
  const std::string compressed = lzmaAlone(kDocsArchive + fileEntry("big", noise(500000)));
  const std::string cut = fileEntry("X-archive.p2.l2", compressed).substr(0, 200);
  EXPECT_FAILS(tailOutcome(cut, 1), 1, "could not be decoded");
  EXPECT_FALSE(exists(dest + "/big"));
  const std::string corrupt = fileEntry("X-archive.p2.l2", compressed.substr(0, 13) + noise(2000));
  EXPECT_FAILS(tailOutcome(corrupt, 1), 1, "could not be decoded");
  EXPECT_FAILS(tailOutcome(fileEntry("f.l2", "not lzma at all"), 1), 1, "Unable to decompress");
  const std::string cutHeader = fileEntry("X-archive.p2.l2", lzmaAlone(kDocsArchive + field("0") + field("cut")));
  EXPECT_FAILS(tailOutcome(cutHeader, 1), 1, "ends inside the header of the entry cut;");
}

TEST_F(Extract, LinksBelowTheDestinationAreReplacedNotFollowed) {
  // Links someone else left where entries go: at a folder entry, at a parent
  // folder no entry names, at a file entry and at a decompressed tail file.
  const std::string outside = dir / "outside";
  makeDir(outside);
  writeFile(outside + "/target", "keep");
  ASSERT_EQ(symlink(outside.c_str(), (dest + "/a").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (dest + "/p").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/target").c_str(), (dest + "/f").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/target").c_str(), (dest + "/notes.txt").c_str()), 0);
  EXPECT_TRUE(extract(folderEntry("a") + fileEntry("a/x", "1") + fileEntry("p/q/y", "2") + fileEntry("f", "3")));
  EXPECT_EQ(extractTailEntries(fileEntry("notes.txt.l2", lzmaAlone("4")), 1), (std::vector<bool>{true}));
  EXPECT_EQ(readFile(outside + "/target"), "keep");
  EXPECT_FALSE(exists(outside + "/x"));
  EXPECT_FALSE(exists(outside + "/q"));
  EXPECT_EQ(readFile(dest + "/a/x"), "1");
  EXPECT_EQ(readFile(dest + "/p/q/y"), "2");
  EXPECT_EQ(readFile(dest + "/f"), "3");
  EXPECT_EQ(readFile(dest + "/notes.txt"), "4");
  struct stat st;
  ASSERT_EQ(lstat((dest + "/p").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Extract, WriteFailureEndsTheRun) {
  // Files may not grow past 2000 bytes (the log stays below that): the data
  // fails when the buffer is flushed (3000 bytes) or at once (1.2 MB), and
  // the partial output is removed.
  const std::string archive = dir / "in.arc";
  const auto extractLimited = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2000, 2000};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::_Exit(extractArchive(std::nullopt, archive, dest, nullptr).status().exitStatus());
  };
  for (const std::string& data : {noise(3000), noise(1200000)}) {
    writeFile(archive, fileEntry("big.bin", data));
    LogCapture log;
    EXPECT_EXIT(extractLimited(), testing::ExitedWithCode(1), "");
    EXPECT_TRUE(log.contains("Unable to write " + dest + "/big.bin: File too large")) << log.text();
    EXPECT_FALSE(exists(dest + "/big.bin"));
  }
}

// Signed archives: the signature covers every byte before its block.

class SignedExtract : public Extract {
 protected:
  static void SetUpTestSuite() {
    ltc_mp = ltm_desc;
    ASSERT_NE(register_prng(&sprng_desc), -1);
    ASSERT_EQ(rsa_make_key(nullptr, find_prng("sprng"), 256, 65537, &privateKey_), CRYPT_OK);
    std::vector<unsigned char> der(4096);
    unsigned long length = der.size();
    ASSERT_EQ(rsa_export(der.data(), &length, PK_PUBLIC | PK_STD, &privateKey_), CRYPT_OK);
    publicKey_ = loadDEREncodedPublicKey(der.data(), static_cast<int>(length)).release();
    ASSERT_NE(publicKey_, nullptr);
  }
  static void TearDownTestSuite() {
    rsa_free(&privateKey_);
    RsaKeyPtr{publicKey_};
  }

  static Digest digestOf(const std::string& bytes) {
    hash_state md;
    EXPECT_TRUE(initHash(md));
    updateHash(md, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return *doFinal(md);
  }

  // The signature block for a signature over `covered`, claiming signedLength.
  static std::string block(const std::string& covered, int64_t signedLength) {
    const Digest digest = digestOf(covered);
    std::vector<unsigned char> sig(256);
    unsigned long length = sig.size();
    EXPECT_EQ(rsa_sign_hash_ex(digest.data(), digest.size(), sig.data(), &length, LTC_PKCS_1_PSS, nullptr,
                               find_prng("sprng"), find_hash("mixed"), 64, &privateKey_),
              CRYPT_OK);
    const std::string hex = bytesToHex(sig.data(), length);
    const std::string signedText = std::to_string(signedLength);
    return field("0") + field("vlArcSpBlock_DigitalSignature1") +
           field(std::to_string(signedText.size() + 1 + hex.size() + 1)) + field(signedText) + field(hex);
  }
  static std::string signedArchive(const std::string& entries) {
    return entries + block(entries, static_cast<int64_t>(entries.size()));
  }

  static const rsa_key* key() { return publicKey_; }

  static inline rsa_key privateKey_{};
  static inline rsa_key* publicKey_ = nullptr;
};

TEST_F(SignedExtract, GoodSignatureIsAccepted) {
  const std::string archive = signedArchive(kDocsArchive);
  LogCapture log;
  EXPECT_TRUE(extract(archive, key()));
  EXPECT_EQ(readFile(dest + "/docs/a.txt"), "hi");
  EXPECT_FALSE(exists(dest + "/vlArcSpBlock_DigitalSignature1"));
  const Digest digest = digestOf(kDocsArchive);
  EXPECT_TRUE(log.contains("[ExtractArchiveFile] Found special block vlArcSpBlock_DigitalSignature1\n"
                           "[ExtractArchiveFile] Found signature block DigitalSignature1\n"
                           "[ExtractArchive] Done extracting archive.\n"
                           "[ExtractArchive] Pre-Alloc\n[ExtractArchive] Post-Alloc\n"
                           "[ExtractArchive] Produced a signature of length 256\n"
                           "[ExtractArchive] Starting hash...\n[ExtractArchive] Seeking to start of data...\n"
                           "[ExtractArhive] At start of file.\n[ExtractArchive] Completed hash\n"
                           "[ExtractArchive] Produced hash: " + bytesToHex(digest.data(), 32) + "\n"
                           "[ExtractArchive] Archive signature verified.\n"))
      << log.text();
  EXPECT_FALSE(log.contains("INVALID"));
}

TEST_F(SignedExtract, UnsignedArchiveIsAcceptedUnchecked) {
  LogCapture log;
  EXPECT_TRUE(extract(kDocsArchive, key()));
  EXPECT_FALSE(log.contains("hash"));
}

TEST_F(SignedExtract, RejectedArchiveEmptiesTheDestination) {
  std::string archive = signedArchive(kDocsArchive);
  archive[23] ^= 0x01;  // "hi" becomes "hh"
  writeFile(dest + "/there-before", "x");
  LogCapture log;
  EXPECT_FALSE(extract(archive, key()));
  EXPECT_FALSE(exists(dest + "/docs/a.txt"));
  EXPECT_FALSE(exists(dest + "/there-before"));
  const std::string stars(71, '*');
  EXPECT_TRUE(log.contains(stars + "\n[ExtractArchive] ERROR - unable to verify signature of hash of archive.\n"
                           "[ExtractArchive] Velmoran will disregard this update.\n"))
      << log.text();
  EXPECT_TRUE(log.contains(stars + "\n"));
}

TEST_F(SignedExtract, SignedArchiveWithoutKeyIsRejected) {
  LogCapture log;
  EXPECT_FALSE(extract(signedArchive(kDocsArchive), nullptr));
  EXPECT_FALSE(exists(dest + "/docs/a.txt"));
  EXPECT_TRUE(log.contains("[ExtractArchive] No public key to check the signature with.\n"));
}

TEST_F(SignedExtract, EntriesOutsideTheSignedRangeAreRejected) {
  // A validly signed archive with an entry slipped in before its block: the
  // block still claims the original signed length.
  const std::string signedPart = kDocsArchive;
  const std::string archive = signedPart + fileEntry("evil", "e") + block(signedPart, signedPart.size());
  LogCapture log;
  EXPECT_FALSE(extract(archive, key()));
  EXPECT_FALSE(exists(dest + "/evil"));
  EXPECT_TRUE(log.contains("(asb name mismatch)"));
  EXPECT_TRUE(log.contains("[ExtractArchive] Archive INVALID.  The signature covers 24 bytes but its block starts at 34\n"));
}

TEST_F(SignedExtract, BlockClaimingNoSignedBytesIsStillABlock) {
  // The signed length is not covered by the signature: one reading -1 must
  // not make a tampered archive pass for an unsigned one.
  std::string tampered = kDocsArchive;
  tampered[23] ^= 0x01;
  const std::string archive = tampered + block(kDocsArchive, -1);
  EXPECT_FALSE(extract(archive, key()));
  EXPECT_FALSE(exists(dest + "/docs/a.txt"));
  EXPECT_EQ(extractTailEntries(fileEntry("A-archive.p2.l2", lzmaAlone(archive)), 1, key()), (std::vector<bool>{false}));
  EXPECT_FALSE(exists(dest + "/docs/a.txt"));
}

TEST_F(SignedExtract, SignedTailArchives) {
  // The block straddles the boundary between the second and third MiB of the
  // decoded stream, so the hash must pick up where its lag left it.
  const std::string padded = fileEntry("pad", noise(2 * 1048576 - 5 - 14));
  ASSERT_EQ(padded.size(), 2u * 1048576 - 5);
  const std::string good = signedArchive(padded);
  std::string bad = good;
  bad[1000] ^= 0x40;
  const std::string first = fileEntry("A-archive.p2.l2", lzmaAlone(good));
  const std::string tail = first + fileEntry("B-archive.p2.l2", lzmaAlone(bad)) + fileEntry("version.txt", "1");
  LogCapture log;
  EXPECT_EQ(extractTailEntries(tail, 1, key()), (std::vector<bool>{true}));
  EXPECT_EQ(readFile(dest + "/pad"), noise(2 * 1048576 - 5 - 14));
  EXPECT_TRUE(log.contains("[ExtractArchive] Archive signature verified.\n"));

  FilePtr in = openFile((dir / "tail").c_str(), "rb");
  fseeko(in.get(), static_cast<off_t>(first.size()), SEEK_SET);
  EXPECT_FALSE(*extractArchiveFileIgnoreSignature(dir / "lzma64", std::nullopt, dest, in.get(), key()));
  EXPECT_FALSE(exists(dest + "/pad"));
  EXPECT_TRUE(*extractArchiveFileIgnoreSignature(dir / "lzma64", std::nullopt, dest, in.get(), key()));
  EXPECT_EQ(readFile(dest + "/version.txt"), "1");
}

// A JRE's own unpack200 runs on its pack200 entries: nothing of an archive
// may run before its signature holds, so a tampered one never starts it.
TEST_F(SignedExtract, Pack200EntriesWaitForTheSignature) {
  const std::string ran = dir / "ran";
  const std::string unpack200 = copyingUnpack200("echo \"$1\" >>'" + ran + "'; cp \"$1\" \"$2\"");
  const std::string good = signedArchive(fileEntry("lib/x.jar", "packed", 2) + fileEntry("lib/y", "y"));
  std::string bad = good;
  bad[bad.find("packed")] ^= 0x01;
  for (const std::string& archive : {bad, good}) {
    std::vector<bool> accepted;
    {
      const std::string tail = fileEntry("JRE-archive.p2.l2", lzmaAlone(archive));
      writeFile(dir / "tail", tail);
      FilePtr in = openFile((dir / "tail").c_str(), "rb");
      LogCapture log;
      accepted.push_back(*extractArchiveFileIgnoreSignature(dir / "lzma64", unpack200, dest, in.get(), key()));
    }
    EXPECT_EQ(accepted[0], archive == good);
    EXPECT_EQ(exists(ran), archive == good);
  }
  EXPECT_EQ(readFile(dest + "/lib/x.jar"), "packed");
  EXPECT_FALSE(exists(dest + "/lib/x.jar.p2"));
}

// An installed component's entries are read past: the next one reads whole.
TEST_F(Extract, SkippedEntriesLeaveTheStreamAtTheNextOne) {
  const std::string tail = fileEntry("lzma64", noise(70000)) + folderEntry("skipped-folder") +
                           fileEntry("next", "n");
  writeFile(dir / "tail", tail + fileEntry("cut", "only part").substr(0, 12));
  FilePtr in = openFile((dir / "tail").c_str(), "rb");
  EXPECT_TRUE(skipArchiveEntry(in.get()));
  EXPECT_TRUE(skipArchiveEntry(in.get()));
  EXPECT_TRUE(skipArchiveEntry(in.get()));
  EXPECT_EQ(ftello(in.get()), static_cast<off_t>(tail.size()));
  EXPECT_FALSE(skipArchiveEntry(in.get()));
  EXPECT_FALSE(exists(dest + "/lzma64"));
}

TEST_F(SignedExtract, SignedTailArchiveWithoutKeyIsRejected) {
  const std::string tail = fileEntry("A-archive.p2.l2", lzmaAlone(signedArchive(kDocsArchive)));
  EXPECT_EQ(extractTailEntries(tail, 1, nullptr), (std::vector<bool>{false}));
  EXPECT_FALSE(exists(dest + "/docs/a.txt"));
}

}  // namespace
}  // namespace velmoran
