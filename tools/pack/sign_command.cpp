// velmoran-pack sign: signs a "mixed" digest the way archives are signed.
#include <cstdio>

#include "cli.h"
#include "signing.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack sign --key PRIVATE_KEY_FILE (--digest HEX | --file FILE\n"
    "                          [--offset N] [--length N])\n"
    "\n"
    "Prints, as hex, the RSA-PSS signature (\"mixed\" hash, 64-byte salt) of a\n"
    "64-byte \"mixed\" digest: the signature text of an archive's signature block.\n"
    "  --key FILE     the private key made by 'velmoran-pack keygen'\n"
    "  --digest HEX   the digest to sign, 128 hex digits\n"
    "  --file FILE    sign the digest of FILE's bytes instead; --offset and\n"
    "                 --length choose a range (default: the whole file)\n";

int runSign(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string keyFile;
  DigestSource source;
  while (!a.done()) {
    if (a.option("--key")) {
      keyFile = a.value();
    } else if (!source.takeOption(a)) {
      fail("unexpected argument '" + a.peek() + "'");
    }
  }
  if (keyFile.empty()) fail("no key given (--key FILE)");
  const Digest digest = source.resolve();
  std::printf("%s\n", signDigestHex(keyFile, digest).c_str());
  return 0;
}

const CommandRegistration registration{
    {50, "sign", "sign a mixed digest the way archives are signed", kHelp, runSign}};

}  // namespace
}  // namespace velmoran::pack
