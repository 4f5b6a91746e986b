// velmoran-pack sign: signs a "mixed" digest the way archives are signed.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "signing.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack sign --key PRIVATE_KEY_FILE (--digest HEX | --file FILE\n"
    "                          [--offset N] [--length N])\n"
    "\n"
    "Prints, as hex, the signature that 'archive --sign' puts into a signed\n"
    "archive: RSA-PSS over the 64-byte \"mixed\" digest (SHA-256 then Keccak-256)\n"
    "of the signed bytes, with a 64-byte salt. For signing archives written by\n"
    "other tools; 'verify' checks the result.\n"
    "\n"
    "Options:\n"
    "  --key FILE     the private key made by 'velmoran-pack keygen'\n"
    "  --digest HEX   the digest to sign, 128 hex digits ('hash' prints it)\n"
    "  --file FILE    sign the digest of FILE's bytes instead\n"
    "  --offset N     with --file: start N bytes into the file (default 0)\n"
    "  --length N     with --file: sign N bytes (default: to the end)\n";

int runSign(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string keyFile;
  DigestSource source;
  while (!a.done()) {
    if (a.option("--key")) {
      keyFile = a.value();
    } else if (!source.takeOption(a)) {
      usage("unexpected argument '" + a.peek() + "' (try --help)");
    }
  }
  if (keyFile.empty()) usage("no key given (--key FILE)");
  const Digest digest = source.resolve();
  std::printf("%s\n", signDigestHex(keyFile, digest).c_str());
  return 0;
}

}  // namespace

constinit const Command kSignCommand{"sign", "sign a digest the way signed archives are signed", kHelp, runSign};

}  // namespace velmoran::pack
