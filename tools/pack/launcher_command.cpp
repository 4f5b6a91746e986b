// velmoran-pack launcher: the launcher program with a wrapper tail appended.
#include <cstdio>
#include <utility>

#include "bundled.h"
#include "cli.h"
#include "commands.h"
#include "format/names.h"
#include "format/tail.h"
#include "launcher_file.h"
#include "launcher_rules.h"
#include "net/update_url.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack launcher -o OUTPUT --app-name NAME [OPTIONS]\n"
    "\n"
    "Writes a launcher file: a copy of the launcher program followed by the\n"
    "files it installs and its settings. The output is executable. Users run it\n"
    "to install the application and start it; the launcher never starts the\n"
    "application itself, it starts the updater, which starts the application.\n"
    "\n"
    "A version V is 11 digits, compared as numbers, e.g. 00054022298: what the\n"
    "file carries is installed when no higher version is installed already.\n"
    "\n"
    "What the file carries:\n"
    "  --app-name NAME           the application's name; it names the folders it is\n"
    "                            installed in (no '-' or '/')\n"
    "  --updater-version V       the version of the embedded updater; without it\n"
    "                            the file embeds nothing and only starts what is\n"
    "                            installed\n"
    "  --updater-archive FILE    the updater: an archive made with 'archive --lzma'\n"
    "                            holding its jars and its VelmoranLaunch (required\n"
    "                            with --updater-version)\n"
    "  --jre-version V           the version of an embedded private JRE\n"
    "  --jre-archive FILE        the JRE: its folder as 'archive --lzma' writes it\n"
    "                            (required with --jre-version)\n"
    "  --jre-name NAME           the JRE's name, as in its folder name (no '-' or\n"
    "                            '/'; required with --jre-version); also sets the\n"
    "                            jre_name parameter\n"
    "  --app-version V           the version of the embedded application (an offline\n"
    "                            installer); without it the updater fetches it\n"
    "  --app-archive FILE        the application, as 'archive --lzma' writes it\n"
    "                            (required with --app-version)\n"
    "  --splash FILE             the PNG image shown while installing (required with\n"
    "                            --updater-version)\n"
    "  --cacerts FILE            a Java CA certificate store (cacerts) that replaces\n"
    "                            the private JRE's (optional)\n"
    "  --lzma64 FILE             the LZMA decompressor program carried in the file\n"
    "                            (default: lzma64 beside this tool)\n"
    "\n"
    "How it installs and starts:\n"
    "  --install-type TYPE       perm_user: in the user's home folder (default);\n"
    "                            perm_all: in /opt, for every user; temporary: in\n"
    "                            the home folder too\n"
    "  --java-version N          the Java version an installed (system) JRE must\n"
    "                            have at least to be used, e.g. 8 (default: any)\n"
    "  --update-url URL          where the updater looks for updates, or D to take\n"
    "                            the update_url parameter (default: none)\n"
    "  --public-key HEX          the public key text that 'keygen' prints: the\n"
    "                            signed archives of the file are verified with it,\n"
    "                            altered ones refused, and a downloaded JRE must be\n"
    "                            signed with it; unsigned archives of the file are\n"
    "                            installed unchecked\n"
    "  --public-key-file FILE    the same, read from a file (keygen --public-out)\n"
    "  --silent-parameter ARG    a command-line argument that makes a run silent (no\n"
    "                            splash window)\n"
    "  --min-splash-ms MS        the shortest time the updater keeps the splash on\n"
    "                            screen, in milliseconds (default 0)\n"
    "  --can-override-splash 0|1 1 lets the splash_image parameter replace the\n"
    "                            splash image (default 0)\n"
    "  --param NAME=VALUE        a parameter, handed to the updater and the\n"
    "                            application as a property (repeatable, in order);\n"
    "                            'params' changes them in an existing file\n"
    "  --param-file NAME=FILE    a parameter whose value is the file's content\n"
    "\n"
    "Output:\n"
    "  -o, --output FILE         the launcher file to write\n"
    "  --stub FILE               the launcher program (default: velmoran-launcher\n"
    "                            beside this tool)\n"
    "\n"
    "--gu-version and --gu-archive are older names of --updater-version and\n"
    "--updater-archive.\n";

Param splitParam(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) usage("--param needs NAME=VALUE, got '" + text + "'");
  return {text.substr(0, eq), text.substr(eq + 1)};
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

struct Options {
  LauncherSpec spec;
  std::string output, stub;
};

// A header field given as it is; the rules of launcher_rules.h judge it.
bool takeHeaderField(Args& a, TailHeader& h) {
  static const std::pair<const char*, std::string TailHeader::*> kFields[] = {
      {"--app-name", &TailHeader::appName},
      {"--app-version", &TailHeader::appVersion},
      {"--jre-version", &TailHeader::jreVersion},
      {"--updater-version", &TailHeader::guVersion},
      {"--gu-version", &TailHeader::guVersion},
      {"--min-splash-ms", &TailHeader::minSplashMs},
      {"--public-key", &TailHeader::signaturePublicKey},
      {"--can-override-splash", &TailHeader::canOverrideSplash},
      {"--install-type", &TailHeader::installType},
      {"--silent-parameter", &TailHeader::silentParameter},
      {"--java-version", &TailHeader::requiredJavaVersion},
      {"--update-url", &TailHeader::updateUrl},
  };
  for (const auto& [option, member] : kFields) {
    if (!a.option(option)) continue;
    h.*member = a.value();
    return true;
  }
  if (!a.option("--public-key-file")) return false;
  const Bytes text = readWholeFile(a.value());
  h.signaturePublicKey = trimmed(std::string(text.begin(), text.end()));
  return true;
}

// A file an entry of the tail is made of.
bool takeFile(Args& a, LauncherSpec& spec) {
  static const std::pair<const char*, TailEntryRole> kFiles[] = {
      {"--lzma64", TailEntryRole::Decompressor},       {"--splash", TailEntryRole::SplashImage},
      {"--cacerts", TailEntryRole::CaStore},           {"--updater-archive", TailEntryRole::UpdaterArchive},
      {"--gu-archive", TailEntryRole::UpdaterArchive}, {"--jre-archive", TailEntryRole::JreArchive},
      {"--app-archive", TailEntryRole::AppArchive},
  };
  for (const auto& [option, role] : kFiles) {
    if (!a.option(option)) continue;
    spec.files[role] = a.value();
    return true;
  }
  return false;
}

// The JRE name, and the parameters (among them jre_name, which hands it to the launcher).
bool takeParam(Args& a, LauncherSpec& spec) {
  if (a.option("--jre-name")) {
    spec.jreName = a.value();
  } else if (a.option("--param")) {
    spec.params.push_back(splitParam(a.value()));
  } else if (a.option("--param-file")) {
    const Param p = splitParam(a.value());
    const Bytes content = readWholeFile(p.second);
    spec.params.emplace_back(p.first, std::string(content.begin(), content.end()));
  } else {
    return false;
  }
  return true;
}

Options parse(const std::vector<std::string>& argv) {
  Options o;
  TailHeader& h = o.spec.header;
  h.minSplashMs = "0";
  h.canOverrideSplash = "0";
  h.installType = "perm_user";
  // Without an update URL the placeholder tells the launcher there is no update server.
  h.updateUrl = std::string(kPlaceholderUpdateUrl) + "/";
  Args a(argv);
  while (!a.done()) {
    if (a.option("-o") || a.option("--output")) o.output = a.value();
    else if (a.option("--stub")) o.stub = a.value();
    else if (!takeHeaderField(a, h) && !takeFile(a, o.spec) && !takeParam(a, o.spec)) {
      usage("unknown argument '" + a.peek() + "' (try --help)");
    }
  }
  if (o.output.empty()) usage("no output file given (-o FILE)");
  if (h.appName.empty()) usage("no application name given (--app-name NAME)");
  return o;
}

// What the options leave out: the programs beside this tool, and the
// jre_name parameter that hands --jre-name to the launcher.
void addDefaults(Options& o) {
  LauncherSpec& spec = o.spec;
  if (o.stub.empty()) o.stub = bundledProgram("velmoran-launcher", "--stub");
  if (!spec.header.guVersion.empty() && !spec.files.contains(TailEntryRole::Decompressor)) {
    spec.files[TailEntryRole::Decompressor] = bundledProgram(kDecompressorName, "--lzma64");
  }
  if (spec.jreName && !jreNameOf(spec.params)) spec.params.emplace_back("jre_name", *spec.jreName);
}

int runLauncher(const std::vector<std::string>& argv) {
  Options o = parse(argv);
  addDefaults(o);
  refuseFaults(specFaults(o.spec));
  const LauncherFile file = buildLauncherFile(o.stub, o.spec);
  writeWholeFile(o.output, file.bytes, 0755);
  std::printf("Wrote %s (%zu bytes: launcher %zu, tail %zu)\n", o.output.c_str(), file.bytes.size(), file.stubSize,
              file.bytes.size() - file.stubSize);
  return 0;
}

}  // namespace

constinit const Command kLauncherCommand{"launcher", "write the launcher file that users run", kHelp, runLauncher};

}  // namespace velmoran::pack
