// velmoran-pack keygen: makes the RSA key pair that signs archives.
#include <sys/stat.h>

#include <cstdio>
#include <optional>

#include "cli.h"
#include "commands.h"
#include "signing.h"
#include "util/encoding.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack keygen -o PRIVATE_KEY_FILE [--public-out FILE] [--force]\n"
    "\n"
    "Makes a 2048-bit RSA key pair for signing archives. The private key (DER)\n"
    "goes to PRIVATE_KEY_FILE, readable by its owner only; keep it secret, and\n"
    "give it to 'archive --sign'. The public key is printed as hexadecimal DER\n"
    "text; give it to 'launcher --public-key' (or save it with --public-out and\n"
    "give 'launcher --public-key-file'), so the launcher accepts archives signed\n"
    "with the private key and refuses altered ones.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE    where to write the private key (refused if it exists)\n"
    "  --public-out FILE    also write the public key text to FILE\n"
    "  --force              overwrite an existing private key file\n";

int runKeygen(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string privateOut, publicOut;
  bool force = false;
  while (!a.done()) {
    // --out is the option's first name, kept for scripts that use it.
    if (a.option("-o") || a.option("--output") || a.option("--out")) {
      privateOut = a.value();
    } else if (a.option("--public-out")) {
      publicOut = a.value();
    } else if (a.flag("--force")) {
      force = true;
    } else {
      usage("unknown argument '" + a.peek() + "' (try --help)");
    }
  }
  if (privateOut.empty()) usage("no private key file given (-o FILE)");
  // Refused before the key is made; the final rename refuses one that appears meanwhile.
  struct stat st {};
  if (!force && lstat(privateOut.c_str(), &st) == 0) fail(privateOut + " exists; pass --force to overwrite it");

  const KeyPair pair = makeKeyPair(2048);
  const std::string publicHex = bytesToHex(pair.publicDer.data(), pair.publicDer.size());
  AtomicOutput privateKey(privateOut, 0600, force);
  privateKey.write(pair.privateDer);
  std::optional<AtomicOutput> publicKey;
  if (!publicOut.empty()) {
    std::vector<unsigned char> text(publicHex.begin(), publicHex.end());
    text.push_back('\n');
    publicKey.emplace(publicOut).write(text);
  }
  privateKey.commit();
  if (publicKey) publicKey->commit();
  std::printf("%s\n", publicHex.c_str());
  return 0;
}

}  // namespace

constinit const Command kKeygenCommand{"keygen", "make the key pair that signs archives", kHelp, runKeygen};

}  // namespace velmoran::pack
