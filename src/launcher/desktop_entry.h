// The application's menu entry: a freedesktop desktop entry that starts the
// installed launcher, and its icon. A home install puts them in the user's
// data folder (XDG_DATA_HOME, or ~/.local/share), an install for all users
// in /usr/share.
#pragma once

#include <string>

#include "launcher/settings.h"
#include "util/status.h"

namespace velmoran {

struct DesktopEntryFiles {
  std::string entry;  // .../applications/velmoran-<app>.desktop
  std::string icon;   // .../icons/velmoran-<app>.png, or /usr/share/pixmaps/...
};

// Where the entry and the icon of this run's application go; none when the
// home directory is not known.
std::optional<DesktopEntryFiles> desktopEntryFiles(const RunSettings& run);

// Writes the entry and its icon (the updater folder's VelmoranIcon.png, else
// its splash image) unless the desktop_entry parameter is "false". Each is
// written beside its name and renamed onto it; one that cannot be written is
// a record, not a failure of the run.
void installDesktopEntry(const RunSettings& run, const std::string& updaterFolder);

// The desktop entry's text for an application of this name, started by launcher.
std::string desktopEntryText(const std::string& appName, const std::string& launcher, const std::string& icon,
                             const std::string& categories);

}  // namespace velmoran
