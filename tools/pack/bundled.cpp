#include "bundled.h"

#include <unistd.h>

#include <climits>

#include "cli.h"

namespace velmoran::pack {
namespace {

bool isFile(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

}  // namespace

std::string toolFolder() {
  char self[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) fail("cannot tell where velmoran-pack runs from");
  const std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/'));
}

std::string bundledProgram(const std::string& name, const std::string& option) {
  const std::string path = toolFolder() + "/" + name;
  if (!isFile(path)) fail("cannot find " + name + " beside velmoran-pack (" + path + "); give " + option);
  return path;
}

std::string bundledData(const std::string& name, const std::string& option) {
  const std::string folder = toolFolder();
  for (const std::string& share : {folder + "/share/velmoran", folder + "/../share/velmoran"}) {
    if (isFile(share + "/" + name)) return share + "/" + name;
  }
  fail("cannot find " + name + " in share/velmoran beside or above velmoran-pack (" + folder + "); give " + option);
}

}  // namespace velmoran::pack
