// velmoran-pack keygen: makes the RSA key pair that signs archives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "signing.h"
#include "util/encoding.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack keygen -o PRIVATE_KEY_FILE [--public-out FILE] [--force]\n"
    "\n"
    "Makes a 2048-bit RSA key pair for signing archives. The private key (DER)\n"
    "goes to PRIVATE_KEY_FILE, readable by its owner only; keep it secret.\n"
    "The public key is printed as the hexadecimal DER text that the launcher's\n"
    "\"Signature Public Key\" header field carries.\n"
    "  -o FILE            where to write the private key (refused if it exists)\n"
    "  --public-out FILE  also write the public key text to FILE\n"
    "  --force            overwrite an existing private key file\n";

// Created 0600 from the start, so the key is never readable by others.
void writePrivateKey(const std::string& path, const std::vector<unsigned char>& der, bool force) {
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (force ? 0 : O_EXCL);
  const int fd = open(path.c_str(), flags, 0600);
  if (fd < 0) {
    if (errno == EEXIST) fail(path + " exists; pass --force to overwrite it");
    fail("cannot write " + path + ": " + std::strerror(errno));
  }
  bool ok = fchmod(fd, 0600) == 0;
  for (std::size_t done = 0; ok && done < der.size();) {
    const ssize_t n = write(fd, der.data() + done, der.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  const int savedErrno = errno;
  if (close(fd) != 0) ok = false;
  if (!ok) fail("cannot write " + path + ": " + std::strerror(savedErrno));
}

int runKeygen(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string privateOut, publicOut;
  bool force = false;
  while (!a.done()) {
    if (a.option("-o") || a.option("--out")) {
      privateOut = a.value();
    } else if (a.option("--public-out")) {
      publicOut = a.value();
    } else if (a.flag("--force")) {
      force = true;
    } else {
      fail("unexpected argument '" + a.peek() + "'");
    }
  }
  if (privateOut.empty()) fail("no private key file given (-o FILE)");

  const KeyPair pair = makeKeyPair(2048);
  const std::string publicHex = bytesToHex(pair.publicDer.data(), pair.publicDer.size());
  writePrivateKey(privateOut, pair.privateDer, force);
  if (!publicOut.empty()) {
    std::vector<unsigned char> text(publicHex.begin(), publicHex.end());
    text.push_back('\n');
    writeWholeFile(publicOut, text);
  }
  std::printf("%s\n", publicHex.c_str());
  return 0;
}

const CommandRegistration registration{{40, "keygen", "make a key pair for signing archives", kHelp, runKeygen}};

}  // namespace
}  // namespace velmoran::pack
