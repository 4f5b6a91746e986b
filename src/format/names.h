// The names the install is made of: components, their version folders, the
// files of the updater, and what lies under the update URL. One place forms
// each, for the launcher, the builder, check and inspect.
#pragma once

#include <cstddef>
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
// In the updater's version folder: the menu entry's icon, when the updater
// archive carries one (velmoran-pack app --icon); else the splash serves.
inline constexpr const char* kMenuIconName = "VelmoranIcon.png";
// An icon larger than this is no icon: the entry is not written.
inline constexpr std::size_t kMaxMenuIconBytes = 4 << 20;
// Params of the menu entry: "false" writes none; its Categories value.
inline constexpr const char* kDesktopEntryParam = "desktop_entry";
inline constexpr const char* kDesktopCategoriesParam = "desktop_categories";

// In the master folder: the installed copy of the launcher, without payload,
// that desktop entries and the updater start.
inline constexpr const char* kLauncherCopyName = "VelmoranLauncher";

// In the master folder: one file per version folder in use, which a running
// updater holds a shared lock on.
inline constexpr const char* kRunningFolderName = "VLRunning";

// In the master folder: what the last check for updates found (plain text
// lines "key value": checked, application, required).
inline constexpr const char* kUpdateStatusName = "VelmoranUpdateStatus";

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
// The signed update manifest of an application, under the update URL:
// "Velmoran-<app>-manifest.p2".
std::string manifestFileName(std::string_view appName);

}  // namespace velmoran
