// velmoran-pack verify: checks a signature the way the launcher checks archives.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "signing.h"
#include "util/encoding.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack verify (--public-key HEX | --public-key-file FILE)\n"
    "                            --signature HEX (--digest HEX | --file FILE\n"
    "                            [--offset N] [--length N])\n"
    "\n"
    "Checks a signature (as 'sign' prints it) the way the launcher checks signed\n"
    "archives, with the launcher's own code. Prints \"valid\" and exits 0 when it\n"
    "holds; prints \"invalid\" and exits 1 when it does not.\n"
    "\n"
    "Options:\n"
    "  --public-key HEX        the public key text that 'keygen' prints\n"
    "  --public-key-file FILE  a file holding that text (keygen --public-out)\n"
    "  --signature HEX         the signature, as hex\n"
    "  --digest HEX            the signed digest, 128 hex digits ('hash' prints it)\n"
    "  --file FILE             check the digest of FILE's bytes instead\n"
    "  --offset N, --length N  with --file: the range of bytes, as for 'sign'\n";

std::string trimmed(const std::vector<unsigned char>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

int runVerify(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string keyHex, signatureHex;
  DigestSource source;
  while (!a.done()) {
    if (a.option("--public-key")) {
      keyHex = a.value();
    } else if (a.option("--public-key-file")) {
      keyHex = trimmed(readWholeFile(a.value()));
    } else if (a.option("--signature")) {
      signatureHex = a.value();
    } else if (!source.takeOption(a)) {
      usage("unexpected argument '" + a.peek() + "' (try --help)");
    }
  }
  if (keyHex.empty()) usage("no public key given (--public-key HEX or --public-key-file FILE)");
  if (signatureHex.empty()) usage("no signature given (--signature HEX)");
  const Digest digest = source.resolve();
  const std::vector<unsigned char> der = hexToBytes(keyHex);
  const RsaKeyPtr key = loadDEREncodedPublicKey(der.data(), static_cast<int>(der.size()));
  if (!key) fail("the public key text is not an RSA key");
  const std::vector<unsigned char> sig = hexToBytes(signatureHex);
  if (!verifySignature(sig.data(), static_cast<int>(sig.size()), digest.data(), key.get())) {
    std::printf("invalid\n");
    return 1;
  }
  std::printf("valid\n");
  return 0;
}

}  // namespace

constinit const Command kVerifyCommand{
    "verify", "check a signature the way the launcher checks archives", kHelp, runVerify};

}  // namespace velmoran::pack
