// velmoran-pack: the builder of launcher files, archives and keys.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

using velmoran::pack::commands;

namespace {

void printUsage(FILE* out) {
  std::fprintf(out,
               "Usage: velmoran-pack COMMAND [OPTIONS]\n"
               "\n"
               "Builds the files of a Velmoran launcher: the launcher file itself (the\n"
               "launcher program with a wrapper tail appended), and reads them back.\n"
               "\n"
               "Commands:\n");
  for (const auto& c : commands()) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(out, "\nRun 'velmoran-pack COMMAND --help' for the options of a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    printUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& c : commands()) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    if (velmoran::pack::wantsHelp(args)) {
      std::fputs(c.help, stdout);
      return 0;
    }
    try {
      return c.run(args);
    } catch (const velmoran::pack::UsageError& e) {
      std::fprintf(stderr, "velmoran-pack %s: %s\n", c.name, e.message.c_str());
      return 1;
    }
  }
  std::fprintf(stderr, "velmoran-pack: unknown command '%s' (try --help)\n", argv[1]);
  return 2;
}
