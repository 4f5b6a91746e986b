// Fuzz target: the update manifest's text from the update server, read as
// the check for updates and the JRE download read it once its archive's
// signature holds (without a key in the file, it does not need to).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/manifest.h"
#include "format/names.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velmoran::fuzz::prepare();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string fault;
  const std::optional<velmoran::Manifest> manifest = velmoran::parseManifest(text, fault);
  if (!manifest) return 0;
  // What is accepted becomes folder and file names in the master folder.
  for (const velmoran::ManifestComponent& c : manifest->components) {
    const bool named = c.kind == velmoran::ManifestKind::Updater ? c.name == velmoran::kUpdaterComponent
                                                                 : !velmoran::componentNameFault(c.name);
    if (!named || c.version.size() != 11 ||
        c.version.find_first_not_of("0123456789") != std::string::npos ||
        c.archive != velmoran::archiveFileName(c.name, c.version) || c.sha256.size() != 64) {
      __builtin_trap();
    }
  }
  // The builder writes what the launcher reads: the text of what was read
  // reads back the same.
  const std::string again = velmoran::manifestText(*manifest);
  std::string second;
  const std::optional<velmoran::Manifest> reread = velmoran::parseManifest(again, second);
  if (!reread || velmoran::manifestText(*reread) != again) __builtin_trap();
  return 0;
}
