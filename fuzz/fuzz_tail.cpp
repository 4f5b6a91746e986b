// Fuzz target: a whole launcher file read as the launcher reads its own: the
// Params section from the first byte, then the Tail marker, the header, the
// public key it carries, and the tail entries extracted with their LZMA and
// nested-archive stages into a fresh folder.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "format/tail_plan.h"
#include "fuzz_support.h"
#include "launcher/install_steps.h"
#include "launcher/own_file.h"
#include "util/encoding.h"

namespace {

// The launcher file read as the launcher reads its own (the Params section,
// then the header), the key imported as the settings do, and the entries
// of the tail's plan extracted as the install does, all into destination.
void readLauncherFile(const std::string& path, const std::string& destination) {
  const velmoran::Invocation invocation{path, path, {}, {path}, false};
  velmoran::Result<velmoran::OwnFile> own = velmoran::readOwnFile(invocation);
  if (!own.ok()) return;
  // The key import as the settings do it: the hex text into a buffer of half
  // its length and two, then libtomcrypt's DER reader.
  const std::string& hex = own->header.signaturePublicKey;
  velmoran::RsaKeyPtr key;
  if (!hex.empty()) {
    std::vector<unsigned char> der(hex.size() / 2 + 2);
    const int count = velmoran::hexToBytes(der.data(), static_cast<int>(der.size()), hex.c_str());
    key = velmoran::loadDEREncodedPublicKey(der.data(), count);
  }
  std::vector<velmoran::TailEntry> plan = velmoran::tailPlan(own->header, own->params.jreName);
  const std::size_t entries = plan.size();
  velmoran::TailEntries tail(std::move(own->tail), std::move(plan), path, key.get());
  // No unpack200: nothing is started, and a pack200 entry fails.
  const std::string lzma = destination + "/lzma64";
  for (std::size_t i = 0; i < entries; ++i) {
    if (!tail.extractNext(lzma, std::nullopt, destination).ok()) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmoran::fuzz::Scratch scratch;
  const std::string path = scratch.writeInput("launcher", data, size);
  readLauncherFile(path, scratch.out());
  return 0;
}
