// velmoran-pack: the builder of launcher files, archives and keys.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "util/log.h"

using velmoran::pack::Command;
using velmoran::pack::commands;

namespace {

void printUsage(FILE* out) {
  std::fprintf(out,
               "Usage: velmoran-pack COMMAND [OPTIONS]\n"
               "       velmoran-pack --version | --help\n"
               "\n"
               "Builds what ships a Java desktop application to Linux users as one\n"
               "executable file, the launcher file: the launcher program followed by the\n"
               "application's files (the updater that starts it, optionally a private JRE\n"
               "and the application itself) and its settings. Also reads such files back.\n"
               "\n"
               "Commands:\n");
  for (const Command* c : commands()) std::fprintf(out, "  %-11s %s\n", c->name, c->summary);
  std::fprintf(out,
               "\n"
               "Run 'velmoran-pack COMMAND --help' for the options of a command.\n"
               "Exit status: 0 on success, 1 when something fails (a file cannot be read\n"
               "or written, a key is invalid, a check finds errors), 2 for a wrong command\n"
               "line (an unknown command or option, a missing or malformed value).\n");
}

bool is(const char* arg, const char* a, const char* b) { return std::strcmp(arg, a) == 0 || std::strcmp(arg, b) == 0; }

}  // namespace

int main(int argc, char** argv) {
  // The project's readers, decoders and key import log what they meet; the
  // commands report it in their own words, and standard output is theirs.
  velmoran::setConsoleLogging(false);
  if (argc < 2) {
    printUsage(stderr);
    return velmoran::pack::kExitUsage;
  }
  if (is(argv[1], "--help", "-h") || std::strcmp(argv[1], "help") == 0) {
    printUsage(stdout);
    return 0;
  }
  if (is(argv[1], "--version", "-V")) {
    std::printf("velmoran-pack %s\n", VELMORAN_VERSION);
    return 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const Command* c : commands()) {
    if (std::strcmp(argv[1], c->name) != 0) continue;
    if (velmoran::pack::wantsHelp(args)) {
      std::fputs(c->help, stdout);
      return 0;
    }
    try {
      return c->run(args);
    } catch (const velmoran::pack::CommandError& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "velmoran-pack %s: %s\n", c->name, e.message.c_str());
      return e.status;
    }
  }
  std::fprintf(stderr, "velmoran-pack: unknown command '%s' (try --help)\n", argv[1]);
  return velmoran::pack::kExitUsage;
}
