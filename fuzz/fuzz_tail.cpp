// Fuzz target: a whole launcher file read as the launcher reads its own: the
// Params section from the first byte, then the Tail marker, the header, the
// public key it carries, and the tail entries extracted with their LZMA and
// nested-archive stages into a fresh folder.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "archive/signature.h"
#include "fuzz_support.h"
#include "launch/properties.h"
#include "launcher/dynamic_params.h"
#include "launcher/tail.h"
#include "util/encoding.h"
#include "util/file.h"

namespace {

// The most entries the install flow takes from a tail: the updater's five,
// the JRE and the application's two.
constexpr int kTailEntries = 8;

void readLauncherFile(const std::string& path, const std::string& destination) {
  off_t paramsStart = -1;
  {
    velmoran::FilePtr in = velmoran::openFile(path.c_str(), "rb");
    if (!in || velmoran::scanToMarker(in.get(), velmoran::allocAndInitParamsMarker(), "Params") < 0) return;
    paramsStart = ftello(in.get()) - static_cast<off_t>(velmoran::kParamsMarkerLength);
    velmoran::PropertiesBlock properties;
    velmoran::readDynamicParams(in.get(), properties);
  }
  velmoran::FilePtr tail = velmoran::openFile(path.c_str(), "rb");
  if (!tail || velmoran::scanToMarker(tail.get(), velmoran::allocAndInitMarker(), "Tail") < 0) return;
  tail = velmoran::endTailAtParams(std::move(tail), paramsStart);
  if (!tail) return;
  const velmoran::TailHeader header = velmoran::readTailHeader(tail.get());

  // The key import as the driver does it: the hex text into a buffer of half
  // its length and two, then libtomcrypt's DER reader.
  velmoran::RsaKeyPtr key;
  if (!header.signaturePublicKey.empty()) {
    std::vector<unsigned char> der(header.signaturePublicKey.size() / 2 + 2);
    const int count =
        velmoran::hexToBytes(der.data(), static_cast<int>(der.size()), header.signaturePublicKey.c_str());
    key = velmoran::loadDEREncodedPublicKey(der.data(), count);
  }
  // No unpack200: nothing is started, and a pack200 entry ends the run.
  const std::string lzma = destination + "/lzma64";
  for (int entry = 0; entry < kTailEntries && !std::feof(tail.get()); ++entry) {
    velmoran::extractArchiveFileIgnoreSignature(lzma, std::nullopt, destination, tail.get(), key.get());
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
  velmoran::fuzz::untilRunEnds([&] { readLauncherFile(path, scratch.out()); });
  return 0;
}
