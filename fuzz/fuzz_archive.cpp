// Fuzz target: an archive file as a downloaded JRE archive is handled: its
// signature checked before anything is written, then extracted into a fresh
// folder with the signature checked again, as extraction does. The key is
// the one the seed archives were signed with, so their signatures hold and
// the accepting paths are reached too.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/signature.h"
#include "archive/signature_check.h"
#include "fuzz_support.h"
#include "util/encoding.h"
#include "util/fields.h"
#include "util/file.h"

namespace {

velmoran::RsaKeyPtr seedKey;

velmoran::RsaKeyPtr loadSeedKey() {
  const std::string path = std::string(VELMORAN_FUZZ_DIR) + "/corpus/seed-signing.pub";
  velmoran::FilePtr file = velmoran::openFile(path.c_str(), "rb");
  if (!file) return nullptr;
  const std::vector<unsigned char> der = velmoran::hexToBytes(velmoran::readString(file.get(), "key", 8192));
  return velmoran::loadDEREncodedPublicKey(der.data(), static_cast<int>(der.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  seedKey = loadSeedKey();
  if (!seedKey) std::fprintf(stderr, "fuzz_archive: no seed key; signed archives are all refused\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmoran::fuzz::Scratch scratch;
  const std::string archive = scratch.writeInput("archive.p2", data, size);
  velmoran::verifyArchiveFile(archive, seedKey.get());
  // No unpack200: nothing is started, and a pack200 entry fails.
  (void)velmoran::extractArchive(std::nullopt, archive, scratch.out(), seedKey.get());
  return 0;
}
