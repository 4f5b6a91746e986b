#include "launcher/desktop_entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "format/names.h"
#include "install/locations.h"
#include "platform/fileops.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "util/strings.h"

namespace velmoran {
namespace {

constexpr const char* kDefaultCategories = "Utility;";

// A desktop file ID of letters, digits, "_" and ".": anything else in the
// application's name becomes "_".
std::string idOf(const std::string& appName) {
  std::string id = "velmoran-";
  for (const char c : appName) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    id += plain ? c : '_';
  }
  return id;
}

// A value of type string: backslash, line breaks and tabs escaped.
std::string escapedValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// The program as the Exec key quotes it: in double quotes, with '"', '`', '$'
// and '\' escaped by a backslash, '%' doubled; then the value's own escapes.
std::string quotedProgram(const std::string& path) {
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  return escapedValue(quoted + "\"");
}

// Writes bytes beside path and renames them onto it.
bool replaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
  const std::string part = format("%s.part-%ld", path.c_str(), static_cast<long>(getpid()));
  std::remove(part.c_str());
  FilePtr out = openForWriting(part, mode, true);
  bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
  written = out && std::fclose(out.release()) == 0 && written;
  if (written && std::rename(part.c_str(), path.c_str()) == 0) return true;
  std::remove(part.c_str());
  return false;
}

// Makes the folders of path's parent that are missing, for its owner alone to write.
void makeParents(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    mkdir(path.substr(0, at).c_str(), 0755);
  }
}

}  // namespace

std::optional<DesktopEntryFiles> desktopEntryFiles(const RunSettings& run) {
  const std::string id = idOf(run.header.appName);
  if (installsForAllUsers(run.installType)) {
    return DesktopEntryFiles{"/usr/share/applications/" + id + ".desktop", "/usr/share/pixmaps/" + id + ".png"};
  }
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string data;
  if (dataHome != nullptr && dataHome[0] == '/') {
    data = dataHome;
  } else if (const std::optional<std::string> home = homeDirectory()) {
    data = *home + "/.local/share";
  } else {
    return std::nullopt;
  }
  return DesktopEntryFiles{setPath(data, "applications", id + ".desktop"), setPath(data, "icons", id + ".png")};
}

std::string desktopEntryText(const std::string& appName, const std::string& launcher, const std::string& icon,
                             const std::string& categories) {
  return "[Desktop Entry]\nType=Application\nName=" + escapedValue(appName) + "\nExec=" + quotedProgram(launcher) +
         "\nIcon=" + escapedValue(icon) + "\nTerminal=false\nCategories=" + escapedValue(categories) + "\n";
}

void installDesktopEntry(const RunSettings& run, const std::string& updaterFolder) {
  if (run.params.desktopEntry == "false") return;
  const std::optional<DesktopEntryFiles> files = desktopEntryFiles(run);
  if (!files) return;
  std::string icon = setPath(updaterFolder, kMenuIconName);
  if (!doesFileExist(icon)) icon = setPath(updaterFolder, kSplashImageName);
  makeParents(files->icon);
  makeParents(files->entry);
  std::string iconBytes;
  if (FilePtr in = openForReading(icon)) {
    char chunk[65536];
    for (std::size_t n; iconBytes.size() <= kMaxMenuIconBytes && (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;) {
      iconBytes.append(chunk, n);
    }
  }
  if (iconBytes.size() > kMaxMenuIconBytes) iconBytes.clear();
  const std::string categories = run.params.desktopCategories.empty() ? kDefaultCategories : run.params.desktopCategories;
  const std::string text = desktopEntryText(run.header.appName, setPath(run.masterFolder, kLauncherCopyName),
                                            files->icon, categories);
  if (iconBytes.empty() || !replaceFile(files->icon, iconBytes, 0644) || !replaceFile(files->entry, text, 0644)) {
    logMessage("[Extractor] Unable to write the menu entry %s: %s\n", files->entry.c_str(), std::strerror(errno));
    return;
  }
  logMessage("[Extractor] Menu entry %s written\n", files->entry.c_str());
}

}  // namespace velmoran
