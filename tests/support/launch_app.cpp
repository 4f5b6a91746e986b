// Hands a laid-out master folder over to its updater the way the launcher's
// last step does: a properties block, then launchApp, then exit.
// Usage: launch_app MASTER VERSION_FOLDER JRE_NAME STATIC_UPDATE_URL
//          [--static NAME VALUE | --dynamic NAME VALUE | --dynamic-url URL]... [-- USER_ARG...]
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "launch/launch.h"
#include "launch/properties.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s MASTER VERSION_FOLDER JRE_NAME STATIC_UPDATE_URL [...]\n", argv[0]);
    return 2;
  }
  velmoran::PropertiesBlock block;
  std::optional<std::string> dynamicUrl;
  int i = 5;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--dynamic-url") == 0 && i + 1 < argc) {
      dynamicUrl = argv[++i];
    } else if (std::strcmp(argv[i], "--static") == 0 && i + 2 < argc) {
      velmoran::addStaticProperty(block, argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (std::strcmp(argv[i], "--dynamic") == 0 && i + 2 < argc) {
      velmoran::addDynamicProperty(block, argv[i + 1], argv[i + 2]);
      i += 2;
    } else {
      std::fprintf(stderr, "launch_app: unexpected argument %s\n", argv[i]);
      return 2;
    }
  }
  if (i < argc) ++i;
  const velmoran::LaunchRequest request{argv[1], argv[2], block, {argv + i, argv + argc}, argv[4], dynamicUrl,
                                        "/launcher/path"};
  return velmoran::launchApp(request, argv[3]).exitStatus();
}
