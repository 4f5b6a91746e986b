// velmoran-pack launchfile: the launch file ("VelmoranLaunch") of a startable
// version folder.
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "launch_file_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack launchfile -o FILE --class CLASS [OPTIONS]\n"
    "\n"
    "Writes a launch file: how the launcher starts the Java program of the\n"
    "version folder it lies in (the java command line: main class, class path,\n"
    "heap, arguments). Put it as \"VelmoranLaunch\" at the top of the folder\n"
    "that 'archive' packs for the updater, which the launcher starts.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE          the file to write\n"
    "  --format-version N         launch file version 1 to 6 (default 6); the\n"
    "                             options marked (V3) and so on need that version\n"
    "  --class CLASS              the main class (required)\n"
    "  --class-on-update CLASS    the class run on update (kept for the updater)\n"
    "  --app-name NAME            the file name java runs as, in the private JRE's\n"
    "                             bin folder; another name than java makes the\n"
    "                             launcher copy java under it (default: java)\n"
    "  --os-icns FILE             the icon file field (kept for the updater)\n"
    "  --url-required             set the URL Required flag\n"
    "  --max-heap MB              the maximum heap, -Xmx (default: none)\n"
    "  --initial-heap MB          the initial heap, -Xms (default: none)\n"
    "  --classpath ENTRY          a class path entry relative to the version folder;\n"
    "                             DIR/* takes every jar in DIR (repeatable, in order)\n"
    "  --arg ARG                  a program argument placed before the user's\n"
    "                             (repeatable, in order)\n"
    "  --compatibility-class C    (V3) the class a JRE compatibility check runs\n"
    "  --post-install-class C     (V4) kept for the updater\n"
    "  --pre-uninstall-class C    (V4) kept for the updater\n"
    "  --jvm-option OPT           (V5) a JVM option the program this file\n"
    "                             describes is started with (repeatable, in\n"
    "                             order)\n"
    "  --must-fork                (V6) set the Must Fork flag\n"
    "\n"
    "Values the launcher would misread are refused: texts over 1022 characters\n"
    "or with NUL bytes, ':' in a class path entry, heap sizes that are not whole\n"
    "megabytes, and options that the chosen version cannot hold.\n";

int64_t megabytes(const char* option, const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
    usage(std::string(option) + " must be a whole number of megabytes; got '" + text + "'");
  }
  return std::stoll(text);
}

int64_t formatVersion(const std::string& text) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '9') {
    usage("--format-version must be " + std::to_string(kLaunchFileFirstVersion) + " to " +
         std::to_string(kLaunchFileLatestVersion) + "; got '" + text + "'");
  }
  return text[0] - '0';
}

int runLaunchfile(const std::vector<std::string>& argv) {
  LaunchFile f;
  f.appName = "java";
  std::string output;
  Args a(argv);
  while (!a.done()) {
    if (a.option("-o") || a.option("--output")) output = a.value();
    else if (a.option("--format-version")) f.version = formatVersion(a.value());
    else if (a.option("--class")) f.mainClass = a.value();
    else if (a.option("--class-on-update")) f.classOnUpdate = a.value();
    else if (a.option("--app-name")) f.appName = a.value();
    else if (a.option("--os-icns")) f.osIcns = a.value();
    else if (a.flag("--url-required")) f.urlRequired = true;
    else if (a.option("--max-heap")) f.jvmMem = megabytes("--max-heap", a.value());
    else if (a.option("--initial-heap")) f.jvmStack = megabytes("--initial-heap", a.value());
    else if (a.option("--classpath")) f.classpath.push_back(a.value());
    else if (a.option("--arg")) f.extraArgs.push_back(a.value());
    else if (a.option("--compatibility-class")) f.compatibilityClass = a.value();
    else if (a.option("--post-install-class")) f.postInstallClass = a.value();
    else if (a.option("--pre-uninstall-class")) f.preUninstallClass = a.value();
    else if (a.option("--jvm-option")) f.appJvmOptions.push_back(a.value());
    else if (a.flag("--must-fork")) f.mustFork = true;
    else usage("unknown argument '" + a.peek() + "' (try --help)");
  }
  if (output.empty()) usage("no output file given (-o FILE)");
  if (f.mainClass.empty()) usage("no main class given (--class CLASS)");
  const Bytes bytes = writeLaunchFile(f);
  writeWholeFile(output, bytes);
  std::printf("Wrote %s (%zu bytes, launch file version %d)\n", output.c_str(), bytes.size(),
              static_cast<int>(f.version));
  return 0;
}

}  // namespace

constinit const Command kLaunchfileCommand{
    "launchfile", "write the launch file (VelmoranLaunch) that starts java", kHelp, runLaunchfile};

}  // namespace velmoran::pack
