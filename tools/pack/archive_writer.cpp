#include "archive_writer.h"

#include <fnmatch.h>
#include <ftw.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "archive/container.h"
#include "archive/lzma.h"
#include "cli.h"
#include "progress.h"
#include "tail_writer.h"

namespace velmoran::pack {

void FileSink::write(std::span<const unsigned char> bytes) {
  out_.write(bytes);
}

struct LzmaSink::State {
  lzma_stream strm = LZMA_STREAM_INIT;
  std::vector<unsigned char> out = std::vector<unsigned char>(1 << 20);
};

LzmaSink::LzmaSink(std::unique_ptr<ByteSink> next, uint32_t preset)
    : state_(std::make_unique<State>()), next_(std::move(next)) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, preset) != 0) fail("the LZMA encoder cannot be set up");
  options.dict_size = kTailLzmaDictionarySize;
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  static_assert((2 * 5 + 0) * 9 + 3 == kTailLzmaProperties, "lc, lp and pb make the properties byte");
  if (lzma_alone_encoder(&state_->strm, &options) != LZMA_OK) fail("the LZMA encoder cannot be set up");
}

LzmaSink::~LzmaSink() { lzma_end(&state_->strm); }

void LzmaSink::run(int action) {
  lzma_stream& strm = state_->strm;
  for (;;) {
    strm.next_out = state_->out.data();
    strm.avail_out = state_->out.size();
    const lzma_ret ret = lzma_code(&strm, static_cast<lzma_action>(action));
    next_->write(std::span<const unsigned char>(state_->out.data(), state_->out.size() - strm.avail_out));
    if (ret == LZMA_STREAM_END) return;
    if (ret != LZMA_OK) fail("LZMA compression failed (liblzma error " + std::to_string(ret) + ")");
    if (action == LZMA_RUN && strm.avail_in == 0) return;
  }
}

void LzmaSink::write(std::span<const unsigned char> bytes) {
  state_->strm.next_in = bytes.data();
  state_->strm.avail_in = bytes.size();
  run(LZMA_RUN);
}

void LzmaSink::finish() {
  state_->strm.next_in = nullptr;
  state_->strm.avail_in = 0;
  run(LZMA_FINISH);
  next_->finish();
}

namespace {

class EntryWriter {
 public:
  EntryWriter(ByteSink& sink, Signer* signer) : sink_(sink), signer_(signer) {}

  void put(std::span<const unsigned char> bytes) {
    if (signer_ != nullptr) signer_->update(bytes);
    sink_.write(bytes);
    offset_ += static_cast<int64_t>(bytes.size());
  }
  void header(long type, const std::string& path, int64_t length) {
    Bytes fields;
    appendEntryHeader(fields, type, path, length);
    put(fields);
  }
  int64_t offset() const { return offset_; }

 private:
  ByteSink& sink_;
  Signer* signer_;
  int64_t offset_ = 0;
};

struct Walk {
  const ArchiveOptions& options;
  EntryWriter& out;
  ArchiveStats& stats;
  std::vector<struct stat> skip;
  std::vector<unsigned char> buffer = std::vector<unsigned char>(1 << 20);

  bool packed(const std::string& relative) const {
    return std::any_of(options.pack200Globs.begin(), options.pack200Globs.end(),
                       [&](const std::string& glob) { return fnmatch(glob.c_str(), relative.c_str(), 0) == 0; });
  }

  void file(const std::string& full, const std::string& relative, const struct stat& st) {
    if (relative == kSignatureBlockName) {
      fail("a file named " + relative + " would be read as the signature block; rename it");
    }
    const long type = packed(relative) ? kEntryPack200 : kEntryPlain;
    const auto length = static_cast<int64_t>(st.st_size);
    out.header(type, relative, length);
    ++stats.entries;
    if (length == 0) {
      ++stats.emptyFiles;
      return;
    }
    FilePtr in = openFile(full.c_str(), "rb");
    if (!in) fail("cannot read " + full + ": " + std::strerror(errno));
    int64_t left = length;
    while (left > 0) {
      const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
      const std::size_t got = std::fread(buffer.data(), 1, want, in.get());
      if (got == 0) fail(full + " changed while it was being archived (it is shorter now)");
      out.put(std::span<const unsigned char>(buffer.data(), got));
      left -= static_cast<int64_t>(got);
    }
    if (std::fgetc(in.get()) != EOF) fail(full + " changed while it was being archived (it is longer now)");
  }

  void folder(const std::string& full, const std::string& relative) {
    std::vector<std::string> names;
    {
      DirPtr dir = openDir(full.c_str());
      if (!dir) fail("cannot read the folder " + full + ": " + std::strerror(errno));
      while (const dirent* e = readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
    }
    const bool top = relative.empty();
    if (top) {
      for (const ExtraFile& extra : options.extraFiles) {
        if (std::find(names.begin(), names.end(), extra.name) != names.end()) {
          fail(full + " already holds a " + extra.name + ", which is written for it; remove it");
        }
        names.push_back(extra.name);
      }
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const auto extra = std::find_if(options.extraFiles.begin(), options.extraFiles.end(),
                                      [&](const ExtraFile& e) { return e.name == name; });
      if (top && extra != options.extraFiles.end()) {
        out.header(kEntryPlain, name, static_cast<int64_t>(extra->data.size()));
        out.put(extra->data);
        ++stats.entries;
        if (extra->data.empty()) ++stats.emptyFiles;
        continue;
      }
      const std::string childFull = full + "/" + name;
      const std::string childRelative = relative.empty() ? name : relative + "/" + name;
      // A fault of the tree, not of the command line.
      if (const auto fault = fieldFault("the path " + childRelative.substr(0, 60), childRelative, kEntryPathSize)) {
        fail(*fault + "; shorten it");
      }
      struct stat st;
      if (lstat(childFull.c_str(), &st) != 0) fail("cannot read " + childFull + ": " + std::strerror(errno));
      // A link to a file is stored as that file; a link to a folder could loop.
      if (S_ISLNK(st.st_mode) && (stat(childFull.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fail(childFull + " is a link to something other than a file; archives hold files and folders only");
      }
      if (std::any_of(skip.begin(), skip.end(),
                      [&](const struct stat& s) { return st.st_dev == s.st_dev && st.st_ino == s.st_ino; })) {
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        out.header(kEntryFolder, childRelative, 0);
        ++stats.entries;
        folder(childFull, childRelative);
      } else if (S_ISREG(st.st_mode)) {
        file(childFull, childRelative, st);
      } else {
        fail(childFull + " is neither a file nor a folder; archives hold files and folders only");
      }
    }
  }
};

}  // namespace

std::vector<unsigned char> signatureBlock(int64_t signedLength, const std::string& signatureHex) {
  const std::string signedText = std::to_string(signedLength);
  // The block length counts the two fields after it, each with its NUL.
  const std::size_t blockLength = signedText.size() + 1 + signatureHex.size() + 1;
  Bytes block;
  appendField(block, std::to_string(kEntryPlain));
  appendField(block, std::string(kSignatureBlockName));
  appendField(block, std::to_string(blockLength));
  appendField(block, signedText);
  appendField(block, signatureHex);
  return block;
}

ArchiveStats writeArchive(const std::string& root, ByteSink& sink, const ArchiveOptions& options,
                          const std::string& skip) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) fail(root + " is not a folder");
  ArchiveStats stats;
  EntryWriter out(sink, options.signer);
  Walk walk{options, out, stats, {}};
  for (const std::string& path : {skip, sink.writingPath()}) {
    struct stat left {};
    if (!path.empty() && stat(path.c_str(), &left) == 0) walk.skip.push_back(left);
  }
  walk.folder(root, "");
  stats.bytes = out.offset();
  if (options.signer != nullptr) {
    const std::string hex = options.signer->finishHex();
    if (const auto fault = fieldFault("the signature", hex, kSignatureHexSize)) fail(*fault);
    const Bytes block = signatureBlock(out.offset(), hex);
    sink.write(block);
    stats.bytes += static_cast<int64_t>(block.size());
    stats.signedArchive = true;
  }
  sink.finish();
  return stats;
}

namespace {

// Counts what goes into the compressor, for the progress line (drawn here,
// or by another thread from the shared count), and stops the work on an
// interruption or when a job beside it has failed.
class CountingSink : public ByteSink {
 public:
  CountingSink(std::unique_ptr<ByteSink> next, Progress* progress, std::atomic<uint64_t>& done,
               const std::atomic<bool>* stop = nullptr)
      : next_(std::move(next)), progress_(progress), done_(done), stop_(stop) {}
  void write(std::span<const unsigned char> bytes) override {
    failIfInterrupted();
    if (stop_ != nullptr && stop_->load()) fail("stopped: another archive failed");
    const uint64_t done = done_ += bytes.size();
    if (progress_ != nullptr) progress_->update(done);
    next_->write(bytes);
  }
  void finish() override { next_->finish(); }
  std::string writingPath() const override { return next_->writingPath(); }

 private:
  std::unique_ptr<ByteSink> next_;
  Progress* progress_;
  std::atomic<uint64_t>& done_;
  const std::atomic<bool>* stop_;
};

// The bytes of the files under root, for a progress line's share.
uint64_t treeSize(const std::string& root) {
  static thread_local uint64_t total;
  total = 0;
  nftw(
      root.c_str(),
      [](const char*, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_F) total += static_cast<uint64_t>(st->st_size);
        return 0;
      },
      16, 0);
  return total;
}

std::unique_ptr<ByteSink> sinkOf(const ArchiveFileJob& job) {
  std::unique_ptr<ByteSink> sink = std::make_unique<FileSink>(job.output);
  if (job.lzmaPreset) sink = std::make_unique<LzmaSink>(std::move(sink), *job.lzmaPreset);
  return sink;
}

}  // namespace

ArchiveStats writeArchiveFile(const ArchiveFileJob& job) {
  std::unique_ptr<ByteSink> sink = sinkOf(job);
  if (job.progressLabel.empty()) return writeArchive(job.root, *sink, job.options, job.skip);
  Progress progress(job.progressLabel, isatty(STDERR_FILENO) == 1 ? treeSize(job.root) : 0);
  std::atomic<uint64_t> done{0};
  CountingSink counting(std::move(sink), &progress, done);
  return writeArchive(job.root, counting, job.options, job.skip);
}

std::vector<ArchiveStats> writeArchiveFiles(const std::vector<ArchiveFileJob>& jobs, const std::string& label) {
  uint64_t total = 0;
  if (isatty(STDERR_FILENO) == 1) {
    for (const ArchiveFileJob& job : jobs) total += treeSize(job.root);
  }
  Progress progress(label, total);
  std::atomic<uint64_t> done{0};
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> running{jobs.size()};
  std::vector<ArchiveStats> stats(jobs.size());
  std::vector<std::exception_ptr> errors(jobs.size());
  std::vector<std::thread> threads;
  threads.reserve(jobs.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    threads.emplace_back([&, i] {
      try {
        CountingSink counting(sinkOf(jobs[i]), nullptr, done, &stop);
        stats[i] = writeArchive(jobs[i].root, counting, jobs[i].options, jobs[i].skip);
      } catch (...) {
        errors[i] = std::current_exception();
        stop = true;
      }
      --running;
    });
  }
  // This thread draws the line the workers count for.
  while (running.load() > 0) {
    progress.update(done.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (std::thread& t : threads) t.join();
  // The failure that caused the others, not their "stopped".
  for (const std::exception_ptr& error : errors) {
    if (!error) continue;
    try {
      std::rethrow_exception(error);
    } catch (const CommandError& e) {
      if (e.message.rfind("stopped: ", 0) != 0) throw;
    }
  }
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  return stats;
}

}  // namespace velmoran::pack
