// Writing archive files: the entry stream of a folder tree, optionally
// LZMA-compressed, optionally closed by a signature block.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli.h"

namespace velmoran::pack {

// Where the archive bytes go: a file, or an LZMA "alone" encoder in front of one.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::span<const unsigned char> bytes) = 0;
  // Flushes everything; a failure is reported with fail().
  virtual void finish() = 0;
  // The file the bytes are going to, if any: an archive of a tree it lies in leaves it out.
  virtual std::string writingPath() const { return {}; }
};

// An archive file, complete only once finish() has renamed it into place: a
// failed run leaves no cut-off archive behind.
class FileSink : public ByteSink {
 public:
  explicit FileSink(const std::string& path) : out_(path) {}
  void write(std::span<const unsigned char> bytes) override;
  void finish() override { out_.commit(); }
  std::string writingPath() const override { return out_.writingPath(); }

 private:
  AtomicOutput out_;
};

// LZMA "alone": properties byte 0x5D (lc 3, lp 0, pb 2), 8 MiB dictionary,
// size unknown in the header and an end marker after the data. The preset
// (0 fastest to 9) sets how hard the encoder looks for matches; the
// dictionary stays the same, so the launcher needs the same memory.
class LzmaSink : public ByteSink {
 public:
  static constexpr uint32_t kDefaultPreset = 6;
  explicit LzmaSink(std::unique_ptr<ByteSink> next, uint32_t preset = kDefaultPreset);
  ~LzmaSink() override;
  void write(std::span<const unsigned char> bytes) override;
  void finish() override;
  std::string writingPath() const override { return next_->writingPath(); }

 private:
  void run(int action);
  struct State;
  std::unique_ptr<State> state_;
  std::unique_ptr<ByteSink> next_;
};

// Sees every byte before the signature block and then signs them.
class Signer {
 public:
  virtual ~Signer() = default;
  virtual void update(std::span<const unsigned char> bytes) = 0;
  // The signature of everything passed to update, as hex text.
  virtual std::string finishHex() = 0;
};

// A file written into the archive at the top of the tree without being in it.
struct ExtraFile {
  std::string name;
  std::vector<unsigned char> data;
};

struct ArchiveOptions {
  std::vector<std::string> pack200Globs;  // fnmatch patterns over relative paths: type-2 entries
  Signer* signer = nullptr;               // none: the archive is not signed
  // Put in name order among the tree's top entries; one the tree holds too is refused.
  std::vector<ExtraFile> extraFiles;
};

struct ArchiveStats {
  int64_t entries = 0;
  int64_t bytes = 0;        // archive bytes before compression
  int64_t emptyFiles = 0;   // entries of length 0: extraction creates no file for them
  bool signedArchive = false;
};

// Writes every folder and file below root, in name order, folders before
// what they hold. skip names a file (the output itself) to leave out, as is
// the file the sink writes to.
ArchiveStats writeArchive(const std::string& root, ByteSink& sink, const ArchiveOptions& options,
                          const std::string& skip);

// An archive file, as the archive command writes one: the tree under root
// into output (renamed into place once whole), LZMA-compressed at lzmaPreset
// or not compressed at all. With a progress label the bytes going in are
// counted on a progress line, and an interruption (progress.h) ends the work.
struct ArchiveFileJob {
  std::string root;
  std::string output;
  std::optional<uint32_t> lzmaPreset;
  ArchiveOptions options;
  std::string skip;  // as writeArchive's
  std::string progressLabel;
};
ArchiveStats writeArchiveFile(const ArchiveFileJob& job);

// Several archive files at once, each on a thread of its own (the LZMA
// encoder works on one core), under one progress line labelled label; the
// jobs' own labels are not drawn. The first failure, in job order, is
// reported once every thread has stopped; the others stop at their next
// write. Signers must be made before, on this thread.
std::vector<ArchiveStats> writeArchiveFiles(const std::vector<ArchiveFileJob>& jobs, const std::string& label);

// The signature block that closes a signed archive of signedLength bytes.
std::vector<unsigned char> signatureBlock(int64_t signedLength, const std::string& signatureHex);

}  // namespace velmoran::pack
