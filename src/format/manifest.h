// The update manifest: what one release of an application offers on its
// update channel. The builder writes it, the launcher reads it; the file
// under the update URL is an archive holding it as its one entry "manifest",
// signed with the release key like every archive. Its text, one line each:
//
//   velmoran-manifest 1
//   application MyApp
//   required false
//   rollback false
//   component updater Velmoran 00054022301 Velmoran-Velmoran-00054022301-archive.p2.l2 SIZE SHA256
//   component application MyApp 00054022301 Velmoran-MyApp-00054022301-archive.p2.l2 SIZE SHA256
//   component jre Linux64JRE 00000000017 Velmoran-Linux64JRE-00000000017-archive.p2.l2 SIZE SHA256
//
// SIZE is the archive's size in bytes, SHA256 the hex digest of its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran {

// The name of the manifest's entry in its archive.
inline constexpr const char* kManifestEntryName = "manifest";
// The most a manifest may hold: it is read whole.
inline constexpr std::size_t kMaxManifestBytes = 1 << 20;

enum class ManifestKind { Updater, Application, Jre };

struct ManifestComponent {
  ManifestKind kind = ManifestKind::Application;
  std::string name;     // the component name: "Velmoran", the application's, the JRE's
  std::string version;  // 11 digits
  std::string archive;  // its archive's name under the update URL
  uint64_t size = 0;
  std::string sha256;   // 64 lowercase hex digits
};

struct Manifest {
  std::string application;
  bool required = false;  // the application must not start before this release is installed
  bool rollback = false;  // versions lower than the installed ones are meant
  std::vector<ManifestComponent> components;  // at most one of each kind
};

// The manifest of the text; none, with why in fault, when the text is not
// one: every field is checked, names and versions as the install takes them.
std::optional<Manifest> parseManifest(std::string_view text, std::string& fault);

// The text of a manifest, as parseManifest reads it back.
std::string manifestText(const Manifest& manifest);

const char* manifestKindName(ManifestKind kind);

}  // namespace velmoran
