// The names the install is made of: components, their version folders, the
// files of the updater, and what lies under the update URL. One place forms
// each, for the launcher, the builder, check and inspect.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmoran {

// The updater's component name: its version folders are Velmoran-Velmoran-*.
inline constexpr const char* kUpdaterComponent = "Velmoran";

// Files the updater's version folder holds from the tail: the decompressor
// the launcher runs, the splash image it shows, the CA store a JRE gets.
inline constexpr const char* kDecompressorName = "lzma64";
inline constexpr const char* kSplashImageName = "nativesplash.png";
inline constexpr const char* kCaStoreName = "cacerts";

// Why name cannot be the component name of the application or the JRE, or
// none when it can. Version folder names are split at "-" and lie in the
// master folder, so a name must be a single field of a single folder name
// that is not the updater's: not empty, no "-" or "/", not "." or "..", not
// "Velmoran", at most the path limit long. The builder and the launcher
// apply the same rule.
std::optional<std::string> componentNameFault(const std::string& name);

// "Velmoran-" + the application's name: its master folder in the shared directory.
std::string masterFolderName(std::string_view appName);
// "Velmoran-<component>-<version>-complete".
std::string versionFolderName(std::string_view component, std::string_view version);
// A component's version file, in its archive's folder and under the update
// URL: "Velmoran-<component>-version.txt".
std::string versionFileName(std::string_view component);
// The archive of one version: "Velmoran-<component>-<version>-archive.p2.l2".
std::string archiveFileName(std::string_view component, std::string_view version);

}  // namespace velmoran
