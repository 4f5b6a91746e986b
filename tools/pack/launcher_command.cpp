// velmoran-pack launcher: the launcher program with a wrapper tail appended.
#include <algorithm>
#include <optional>

#include "archive/container.h"
#include "archive/signature.h"
#include "bundled.h"
#include "cli.h"
#include "commands.h"
#include "format/tail.h"
#include "launcher_file.h"
#include "net/update_url.h"
#include "tail_writer.h"
#include "util/encoding.h"

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

void checkVersion(const char* what, const std::string& v) {
  if (v.empty()) return;
  if (v.size() > 18 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    usage(std::string(what) + " must be decimal digits (at most 18), such as 00054022298; got '" + v + "'");
  }
}

// The launcher decodes the key text only up to its first non-hex character and
// rejects every signed archive when the key does not import, so a text it
// cannot use is refused here. A private key would be published in the file.
void checkPublicKey(const std::string& hex) {
  if (hex.empty()) return;
  const char* expected = "the public key must be the hexadecimal DER text that 'velmoran-pack keygen' prints";
  if (hex.size() % 2 != 0 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) fail(expected);
  const std::vector<unsigned char> der = hexToBytes(hex);
  const RsaKeyPtr key = loadDEREncodedPublicKey(der.data(), static_cast<int>(der.size()));
  if (!key) fail(expected);
  if (key->type != PK_PUBLIC) fail("the key given is a private key; give the public key that 'velmoran-pack keygen' prints");
}

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
  TailHeader header;
  std::string output, stub;
  std::optional<std::string> lzma64, splash, cacerts, updaterArchive, jreArchive, appArchive, jreName;
  std::vector<Param> params;
};

Options parse(const std::vector<std::string>& argv) {
  Options o;
  o.header.minSplashMs = "0";
  o.header.canOverrideSplash = "0";
  o.header.installType = "perm_user";
  // Without an update URL the placeholder tells the launcher there is no update server.
  o.header.updateUrl = std::string(kPlaceholderUpdateUrl) + "/";
  Args a(argv);
  while (!a.done()) {
    if (a.option("-o") || a.option("--output")) o.output = a.value();
    else if (a.option("--stub")) o.stub = a.value();
    else if (a.option("--app-name")) o.header.appName = a.value();
    else if (a.option("--app-version")) o.header.appVersion = a.value();
    else if (a.option("--jre-version")) o.header.jreVersion = a.value();
    else if (a.option("--updater-version") || a.option("--gu-version")) o.header.guVersion = a.value();
    else if (a.option("--min-splash-ms")) o.header.minSplashMs = a.value();
    else if (a.option("--public-key")) o.header.signaturePublicKey = a.value();
    else if (a.option("--public-key-file")) {
      const Bytes text = readWholeFile(a.value());
      o.header.signaturePublicKey = trimmed(std::string(text.begin(), text.end()));
    } else if (a.option("--can-override-splash")) o.header.canOverrideSplash = a.value();
    else if (a.option("--install-type")) o.header.installType = a.value();
    else if (a.option("--silent-parameter")) o.header.silentParameter = a.value();
    else if (a.option("--java-version")) o.header.requiredJavaVersion = a.value();
    else if (a.option("--update-url")) o.header.updateUrl = a.value();
    else if (a.option("--lzma64")) o.lzma64 = a.value();
    else if (a.option("--splash")) o.splash = a.value();
    else if (a.option("--cacerts")) o.cacerts = a.value();
    else if (a.option("--updater-archive") || a.option("--gu-archive")) o.updaterArchive = a.value();
    else if (a.option("--jre-archive")) o.jreArchive = a.value();
    else if (a.option("--jre-name")) o.jreName = a.value();
    else if (a.option("--app-archive")) o.appArchive = a.value();
    else if (a.option("--param")) o.params.push_back(splitParam(a.value()));
    else if (a.option("--param-file")) {
      Param p = splitParam(a.value());
      const Bytes content = readWholeFile(p.second);
      o.params.emplace_back(p.first, std::string(content.begin(), content.end()));
    }
    else usage("unknown argument '" + a.peek() + "' (try --help)");
  }
  if (o.output.empty()) usage("no output file given (-o FILE)");
  if (o.header.appName.empty()) usage("no application name given (--app-name NAME)");
  checkComponentName("application name", o.header.appName);
  checkPublicKey(o.header.signaturePublicKey);
  // The launcher reads anything but these as a default (home folder install,
  // splash override forbidden), so a typo would pass unnoticed until install time.
  const std::string& type = o.header.installType;
  if (type != "perm_all" && type != "perm_user" && type != "temporary") {
    usage("--install-type must be perm_all, perm_user or temporary; got '" + type + "'");
  }
  if (o.header.canOverrideSplash != "0" && o.header.canOverrideSplash != "1") {
    usage("--can-override-splash must be 0 or 1; got '" + o.header.canOverrideSplash + "'");
  }
  const std::string& ms = o.header.minSplashMs;
  if (ms.empty() || ms.size() > 9 || ms.find_first_not_of("0123456789") != std::string::npos) {
    usage("--min-splash-ms must be a number of milliseconds; got '" + ms + "'");
  }
  checkVersion("--app-version", o.header.appVersion);
  checkVersion("--jre-version", o.header.jreVersion);
  checkVersion("--updater-version", o.header.guVersion);
  for (const TailHeaderField& field : kTailHeaderFields) {
    checkFieldFits(std::string("header field '") + field.name + "'", o.header.*field.member, field.size);
  }
  if (o.jreName) {
    checkComponentName("JRE name", *o.jreName);
    const bool given = std::any_of(o.params.begin(), o.params.end(), [](const Param& p) { return p.first == "jre_name"; });
    if (!given) o.params.emplace_back("jre_name", *o.jreName);
  }
  return o;
}

const std::string& required(const std::optional<std::string>& file, const char* option, const char* because) {
  if (!file) usage(std::string(option) + " is required " + because);
  return *file;
}

void refuseWithout(const std::optional<std::string>& file, const char* option, const char* needed) {
  if (file) usage(std::string(option) + " needs " + needed);
}

// The files the header's versions call for; refuses the ones it leaves out.
LauncherContents contents(const Options& o) {
  const TailHeader& h = o.header;
  LauncherContents c;
  c.header = h;
  c.stub = o.stub.empty() ? bundledProgram("velmoran-launcher", "--stub") : o.stub;
  c.params = o.params;
  if (h.guVersion.empty()) {
    const char* needed = "--updater-version";
    refuseWithout(o.lzma64, "--lzma64", needed);
    refuseWithout(o.splash, "--splash", needed);
    refuseWithout(o.cacerts, "--cacerts", needed);
    refuseWithout(o.updaterArchive, "--updater-archive", needed);
    refuseWithout(o.jreArchive, "--jre-archive", needed);
    refuseWithout(o.appArchive, "--app-archive", needed);
    return c;
  }
  const char* withUpdater = "with --updater-version";
  c.lzma64 = o.lzma64 ? *o.lzma64 : bundledProgram("lzma64", "--lzma64");
  c.splash = required(o.splash, "--splash", withUpdater);
  c.updaterArchive = required(o.updaterArchive, "--updater-archive", withUpdater);
  c.cacerts = o.cacerts;
  if (h.jreVersion.empty()) {
    refuseWithout(o.jreArchive, "--jre-archive", "--jre-version");
  } else {
    c.jreArchive = required(o.jreArchive, "--jre-archive", "with --jre-version");
    if (!o.jreName) usage("--jre-name is required with --jre-version");
    c.jreName = *o.jreName;
  }
  if (h.appVersion.empty()) {
    refuseWithout(o.appArchive, "--app-archive", "--app-version");
  } else {
    c.appArchive = required(o.appArchive, "--app-archive", "with --app-version");
  }
  return c;
}

int runLauncher(const std::vector<std::string>& argv) {
  const Options o = parse(argv);
  const LauncherFile file = buildLauncherFile(contents(o));
  writeWholeFile(o.output, file.bytes, 0755);
  std::printf("Wrote %s (%zu bytes: launcher %zu, tail %zu)\n", o.output.c_str(), file.bytes.size(), file.stubSize,
              file.bytes.size() - file.stubSize);
  return 0;
}

}  // namespace

constinit const Command kLauncherCommand{"launcher", "write the launcher file that users run", kHelp, runLauncher};

}  // namespace velmoran::pack
