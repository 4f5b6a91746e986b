// velmoran-pack hash: prints the digests the launcher computes over archives.
#include <cstdio>

#include "archive/keccak.h"
#include "cli.h"
#include "commands.h"
#include "signing.h"
#include "util/encoding.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack hash [--keccak] FILE...\n"
    "\n"
    "Prints the 64-byte \"mixed\" digest (SHA-256 then Keccak-256) of each FILE\n"
    "as hex, one line per file: the digest that signed archives sign ('sign\n"
    "--digest', 'verify --digest'). '-' reads standard input.\n"
    "\n"
    "Options:\n"
    "  --keccak   print the Keccak-256 half only (original Keccak padding)\n";

std::string keccakHex(const std::vector<unsigned char>& bytes) {
  KeccakState state;
  Init(state);
  Update(state, bytes.data(), static_cast<uint64_t>(bytes.size()) * 8);
  unsigned char out[32];
  Final(state, out, sizeof out);
  return bytesToHex(out, sizeof out);
}

std::vector<unsigned char> readInput(const std::string& name) {
  if (name != "-") return readWholeFile(name);
  std::vector<unsigned char> bytes;
  unsigned char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  if (std::ferror(stdin)) fail("cannot read standard input");
  return bytes;
}

int runHash(const std::vector<std::string>& argv) {
  Args a(argv);
  bool keccakOnly = false;
  std::vector<std::string> files;
  while (!a.done()) {
    if (a.flag("--keccak")) {
      keccakOnly = true;
    } else {
      files.push_back(a.positional());
    }
  }
  if (files.empty()) usage("no file given");
  for (const std::string& name : files) {
    const std::vector<unsigned char> bytes = readInput(name);
    if (keccakOnly) {
      std::printf("%s  %s\n", keccakHex(bytes).c_str(), name.c_str());
    } else {
      const Digest digest = mixedDigestOf(bytes);
      std::printf("%s  %s\n", bytesToHex(digest.data(), digest.size()).c_str(), name.c_str());
    }
  }
  return 0;
}

}  // namespace

constinit const Command kHashCommand{"hash", "print the digest of files that signatures cover", kHelp, runHash};

}  // namespace velmoran::pack
