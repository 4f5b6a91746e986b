// velmoran-pack lso: an LSO file, the extra JVM options of launches with one
// private JRE.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "launch_file_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack lso -o FILE OPTION...\n"
    "\n"
    "Writes an LSO file: JVM options (each must start with '-') that the\n"
    "launcher passes to java, in order, before the main class. The launcher\n"
    "reads it as VLApps/JRE-LastSuccessfulOptions-<JRE version folder> in the\n"
    "application's master folder.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE   the file to write\n"
    "Every other argument is a JVM option; after '--' every argument is one.\n";

int runLso(const std::vector<std::string>& argv) {
  std::string output;
  LsoFile lso;
  bool optionsOnly = false;
  for (Args a(argv); !a.done();) {
    if (optionsOnly) lso.options.push_back(a.next());
    else if (a.flag("--")) optionsOnly = true;
    else if (a.option("-o") || a.option("--output")) output = a.value();
    else lso.options.push_back(a.next());
  }
  if (output.empty()) usage("no output file given (-o FILE)");
  const Bytes bytes = writeLsoFile(lso);
  writeWholeFile(output, bytes);
  std::printf("Wrote %s (%zu JVM options)\n", output.c_str(), lso.options.size());
  return 0;
}

}  // namespace

constinit const Command kLsoCommand{"lso", "write an LSO file (extra JVM options for one JRE)", kHelp, runLso};

}  // namespace velmoran::pack
