#include "app_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace velmoran::pack {
namespace {

// Options java reads a separate value after, and that app sets itself.
constexpr const char* kReservedOptions[] = {"-cp", "-classpath", "--class-path", "-jar", "-m", "--module"};

std::string quoted(const std::string& text) { return "'" + text.substr(0, 60) + (text.size() > 60 ? "...'" : "'"); }

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether folder takes a new file: one is made and removed again.
bool takesFiles(const std::string& folder, int& error) {
  std::string probe = folder + "/.velmoran-pack-probe-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    error = errno;
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

}  // namespace

std::string jvmOptionOf(const std::string& text) {
  if (text.empty() || text[0] != '-') {
    usage("--jvm-option " + quoted(text) + " is not a JVM option (it must start with '-'); give an option and its "
          "value in one, such as --add-opens=java.base/java.lang=ALL-UNNAMED");
  }
  std::string option = text;
  const std::size_t space = option.find(' ');
  if (option.rfind("--", 0) == 0 && space != std::string::npos && option.find('=') > space) {
    option[space] = '=';
  }
  const std::string name = option.substr(0, option.find_first_of("=: "));
  if (std::any_of(std::begin(kReservedOptions), std::end(kReservedOptions),
                  [&](const char* reserved) { return name == reserved; })) {
    usage("--jvm-option " + quoted(text) + " is app's to set (the class path and main class come from --classpath "
          "and --main-class)");
  }
  return option;
}

std::string javaPropertyOption(const std::string& text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) usage("--java-property needs NAME=VALUE, got " + quoted(text));
  return "-D" + text;
}

std::string desktopCategoriesOf(const std::string& list) {
  std::string out;
  std::string name;
  const auto end = [&] {
    if (!name.empty()) out += name + ";";
    name.clear();
  };
  for (const char c : list) {
    if (c == ';' || c == ',') {
      end();
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
      name += c;
    } else {
      usage("--categories takes names such as Development;Utility (letters, digits and '-', separated by ';'); got " +
            quoted(list));
    }
  }
  end();
  if (out.empty()) usage("--categories needs at least one category, such as Utility");
  return out;
}

void checkWritableOutput(const std::string& path, const std::string& option) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail("cannot write " + option + " " + path + ": it is a folder");
    if (!S_ISREG(st.st_mode)) {
      // Written directly (a device, a pipe): it must open for writing.
      if (access(path.c_str(), W_OK) != 0) fail("cannot write " + option + " " + path + ": " + std::strerror(errno));
      return;
    }
  }
  // A link is replaced where it leads, as the output is written.
  std::string target = path;
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  const std::string folder = folderOf(target);
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    fail("cannot write " + option + " " + path + ": " + folder + " is not a folder");
  }
  int error = 0;
  if (!takesFiles(folder, error)) {
    fail("cannot write " + option + " " + path + ": " + folder + " takes no new files (" + std::strerror(error) + ")");
  }
}

void checkWritableFolder(const std::string& folder, const std::string& option) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    // app makes it: its parent must take it.
    checkWritableOutput(folder, option);
    return;
  }
  if (!S_ISDIR(st.st_mode)) fail("cannot write into " + option + " " + folder + ": it is not a folder");
  int error = 0;
  if (!takesFiles(folder, error)) {
    fail("cannot write into " + option + " " + folder + ": it takes no new files (" + std::strerror(error) + ")");
  }
}

}  // namespace velmoran::pack
