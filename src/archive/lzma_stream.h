// An LZMA-compressed archive read straight out of a larger stream: a worker
// thread decodes while the reader extracts, so decoding and writing overlap
// and no intermediate file is written.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/signature.h"

namespace velmoran {

class LzmaEntryStream {
 public:
  // Decodes the next `length` bytes of `in`. With hashing on, the decoded
  // bytes are fed to the "mixed" hash as they are read, a little behind, so
  // digestUpTo can still stop at a signature block that was just read.
  LzmaEntryStream(FILE* in, int64_t length, bool hashing);
  ~LzmaEntryStream();
  LzmaEntryStream(const LzmaEntryStream&) = delete;
  LzmaEntryStream& operator=(const LzmaEntryStream&) = delete;

  // The decoded bytes; ftello tells how many were consumed. A decoding
  // failure is logged when reached and then reads as an error.
  FILE* stream() const { return stream_; }
  // Stops the decoder and leaves `in` after the compressed bytes. True when
  // the reader met no decoding failure.
  bool finish();
  // The digest of decoded bytes 0..end-1; none when hashing is off, or those
  // bytes are not exactly the ones still held.
  std::optional<Digest> digestUpTo(int64_t end);

 private:
  struct Chunk {
    std::vector<unsigned char> data;
    std::size_t size = 0;
    int64_t start = 0;  // offset of data[0] in the decoded stream
  };

  void decode();
  bool emit(const unsigned char* data, std::size_t size);
  // Reader side (cookie callbacks).
  bool advance();
  ssize_t read(char* buffer, std::size_t size);
  void release(Chunk*& chunk);

  FILE* in_;
  int64_t left_;
  bool hashing_;
  hash_state md_{};

  std::vector<std::unique_ptr<Chunk>> chunks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Chunk*> free_;
  std::deque<Chunk*> ready_;
  bool stop_ = false;
  bool ended_ = false;
  std::optional<std::string> error_;

  // Decoder side.
  Chunk* filling_ = nullptr;
  int64_t produced_ = 0;

  // Reader side.
  Chunk* previous_ = nullptr;
  Chunk* current_ = nullptr;
  std::size_t position_ = 0;
  int64_t delivered_ = 0;
  int64_t hashed_ = 0;
  bool failed_ = false;

  std::thread worker_;
  FILE* stream_ = nullptr;
};

}  // namespace velmoran
