#include "archive/lzma_stream.h"

#include <algorithm>
#include <cstring>

#include "archive/lzma.h"
#include "util/log.h"

namespace velmoran {
namespace {

// With the 8 MiB dictionary this keeps a run's anonymous memory under 16 MB;
// 1 MiB chunks decoded no faster (bench/memory.sh, bench/extract.sh).
constexpr std::size_t kChunkSize = 256 * 1024;
// The reader holds two chunks (one behind for the lagging hash), the decoder
// fills one, and the rest let it run ahead.
constexpr int kChunkCount = 6;
constexpr std::size_t kReadAhead = 64 * 1024;
static_assert(kReadAhead < kChunkSize, "the bytes read ahead must lie in the chunks kept for the hash");

}  // namespace

LzmaEntryStream::LzmaEntryStream(FILE* in, int64_t length, bool hashing)
    : in_(in), left_(length), hashing_(hashing) {
  if (hashing_ && !initHash(md_)) hashing_ = false;
  for (int i = 0; i < kChunkCount; ++i) {
    chunks_.push_back(std::make_unique<Chunk>());
    chunks_.back()->data.resize(kChunkSize);
    free_.push_back(chunks_.back().get());
  }
  cookie_io_functions_t io{};
  io.read = [](void* self, char* buffer, std::size_t size) -> ssize_t {
    return static_cast<LzmaEntryStream*>(self)->read(buffer, size);
  };
  // Only telling the position is supported: the extractor notes where the
  // signature block starts.
  io.seek = [](void* self, off64_t* offset, int whence) -> int {
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<LzmaEntryStream*>(self)->delivered_;
    return 0;
  };
  stream_ = fopencookie(this, "rb", io);
  // stdio reads a cookie stream through its buffer only, byte by byte when
  // unbuffered. The read-ahead stays far below the two chunks kept for the hash.
  if (stream_ != nullptr) setvbuf(stream_, nullptr, _IOFBF, kReadAhead);
  worker_ = std::thread([this] { decode(); });
}

LzmaEntryStream::~LzmaEntryStream() {
  finish();
  if (stream_ != nullptr) std::fclose(stream_);
}

void LzmaEntryStream::decode() {
  const auto input = [this](unsigned char* buffer, std::size_t size) -> std::ptrdiff_t {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(left_, static_cast<int64_t>(size)));
    if (want == 0) return 0;
    const std::size_t n = std::fread(buffer, 1, want, in_);
    left_ -= static_cast<int64_t>(n);
    if (n == 0 && std::ferror(in_)) return -1;
    return static_cast<std::ptrdiff_t>(n);
  };
  const auto output = [this](std::span<const unsigned char> decoded, std::string& error) {
    if (emit(decoded.data(), decoded.size())) return true;
    error = "stopped";
    return false;
  };
  std::optional<std::string> error = decodeLzmaAlone(input, output);
  // Whatever the decoder left of the entry is skipped, so the stream is at the next entry.
  if (left_ > 0 && fseeko(in_, static_cast<off_t>(left_), SEEK_CUR) == 0) left_ = 0;
  while (left_ > 0) {
    unsigned char skip[65536];
    const std::size_t n = std::fread(skip, 1, static_cast<std::size_t>(std::min<int64_t>(left_, sizeof skip)), in_);
    if (n == 0) break;
    left_ -= static_cast<int64_t>(n);
  }
  std::lock_guard lock(mutex_);
  if (filling_ != nullptr && filling_->size > 0) {
    ready_.push_back(filling_);
    filling_ = nullptr;
  }
  error_ = std::move(error);
  ended_ = true;
  changed_.notify_all();
}

bool LzmaEntryStream::emit(const unsigned char* data, std::size_t size) {
  while (size > 0) {
    if (filling_ == nullptr) {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !free_.empty(); });
      if (stop_) return false;
      filling_ = free_.back();
      free_.pop_back();
      filling_->size = 0;
      filling_->start = produced_;
    }
    const std::size_t n = std::min(size, filling_->data.size() - filling_->size);
    std::memcpy(filling_->data.data() + filling_->size, data, n);
    filling_->size += n;
    produced_ += static_cast<int64_t>(n);
    data += n;
    size -= n;
    if (filling_->size == filling_->data.size()) {
      std::lock_guard lock(mutex_);
      ready_.push_back(filling_);
      filling_ = nullptr;
      changed_.notify_all();
    }
  }
  return true;
}

void LzmaEntryStream::release(Chunk*& chunk) {
  if (chunk == nullptr) return;
  std::lock_guard lock(mutex_);
  free_.push_back(chunk);
  chunk = nullptr;
  changed_.notify_all();
}

bool LzmaEntryStream::advance() {
  if (previous_ != nullptr) {
    if (hashing_) {
      updateHash(md_, previous_->data.data(), static_cast<int>(previous_->size));
      hashed_ += static_cast<int64_t>(previous_->size);
    }
    release(previous_);
  }
  previous_ = current_;
  current_ = nullptr;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return ended_ || !ready_.empty(); });
  if (ready_.empty()) return false;
  current_ = ready_.front();
  ready_.pop_front();
  position_ = 0;
  return true;
}

ssize_t LzmaEntryStream::read(char* buffer, std::size_t size) {
  while (current_ == nullptr || position_ == current_->size) {
    if (!advance()) {
      std::lock_guard lock(mutex_);
      if (!error_) return 0;
      if (!failed_) logError("[ExtractArchiveFile] The LZMA data could not be decoded: %s\n", error_->c_str());
      failed_ = true;
      return -1;
    }
  }
  const std::size_t n = std::min(size, current_->size - position_);
  std::memcpy(buffer, current_->data.data() + position_, n);
  position_ += n;
  delivered_ += static_cast<int64_t>(n);
  return static_cast<ssize_t>(n);
}

bool LzmaEntryStream::finish() {
  if (worker_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      changed_.notify_all();
    }
    worker_.join();
  }
  return !failed_;
}

std::optional<Digest> LzmaEntryStream::digestUpTo(int64_t end) {
  if (!hashing_ || end < hashed_ || end > delivered_) return std::nullopt;
  for (Chunk* chunk : {previous_, current_}) {
    if (chunk == nullptr || end <= hashed_) continue;
    const int64_t from = hashed_ - chunk->start;
    const int64_t to = std::min<int64_t>(end - chunk->start, static_cast<int64_t>(chunk->size));
    if (from < 0 || to < from) return std::nullopt;
    updateHash(md_, chunk->data.data() + from, static_cast<int>(to - from));
    hashed_ += to - from;
  }
  if (hashed_ != end) return std::nullopt;
  hashing_ = false;
  return doFinal(md_);
}

}  // namespace velmoran
