// velmoran-pack app: one command from a folder of jars to a checked
// launcher file. It runs the steps of archive, launchfile, launcher and
// check in one process, with a runtime image made by jlink.
#include <dirent.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include "app_settings.h"
#include "archive/lzma.h"
#include "archive_writer.h"
#include "build_cache.h"
#include "bundled.h"
#include "check.h"
#include "cli.h"
#include "commands.h"
#include "format/install_type.h"
#include "format/names.h"
#include "jar_scan.h"
#include "jdk.h"
#include "launch_file_writer.h"
#include "launcher_file.h"
#include "launcher_rules.h"
#include "net/update_url.h"
#include "progress.h"
#include "publish.h"
#include "signing.h"
#include "tail_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack app -o FILE --name NAME --input DIR --main-class CLASS\n"
    "                         [OPTIONS]\n"
    "\n"
    "Makes a complete launcher file from a folder of jars: the application, the\n"
    "updater that starts it, a Java runtime, the splash image and the settings,\n"
    "then checks the file as 'check' does and says how to run it. Users run the\n"
    "file; its first run installs everything into ~/.Velmoran (or /opt), later\n"
    "runs start what is installed.\n"
    "\n"
    "The same inputs with the same --app-version give the same bytes: nothing in\n"
    "the file comes from the clock or the machine.\n"
    "\n"
    "The application:\n"
    "  --name NAME               its name; it names the folders it is installed in\n"
    "                            (no '-' or '/')\n"
    "  --input DIR               the folder of its jars (and anything else it\n"
    "                            needs), installed as it is\n"
    "  --main-class CLASS        the class java starts; one of the jars must hold it\n"
    "  --classpath ENTRY         a class path entry relative to DIR; lib/* takes\n"
    "                            every jar in DIR/lib (repeatable, in order;\n"
    "                            default: the jars at the top of DIR, in name order)\n"
    "  --max-heap MB             the maximum heap, -Xmx (default: java's)\n"
    "  --initial-heap MB         the initial heap, -Xms (default: java's)\n"
    "  --arg ARG                 a program argument placed before the user's\n"
    "                            (repeatable, in order)\n"
    "  --jvm-option OPT          a JVM option, such as -Dmy.flag=on, -Xss2m or\n"
    "                            --add-opens=java.base/java.lang=ALL-UNNAMED\n"
    "                            (repeatable, in order)\n"
    "  --java-property NAME=VALUE\n"
    "                            the system property NAME, as -DNAME=VALUE\n"
    "                            (repeatable, in order with --jvm-option)\n"
    "  --app-version V           its version: 11 digits, compared as numbers, e.g.\n"
    "                            00000000042; a run installs it when no higher one\n"
    "                            is installed. Default: the build time in seconds\n"
    "                            since 1970-01-01 UTC, 11 digits (SOURCE_DATE_EPOCH\n"
    "                            when set), so every build is newer than the last\n"
    "\n"
    "The updater:\n"
    "  By default the project's own updater: it starts the newest installed\n"
    "  version of the application on the newest installed JRE and meanwhile has\n"
    "  the installed launcher check the update channel (--update-url) and install\n"
    "  what it offers, used from the next start. Its version is the application's.\n"
    "  It runs with the application's heap sizes and JVM options, so it starts the\n"
    "  application in its own JVM, without a second one.\n"
    "  --updater-archive FILE    another updater: an archive made with 'archive\n"
    "                            --lzma' holding its jars and its VelmoranLaunch\n"
    "  --updater-version V       that updater's version (required with it); jdeps\n"
    "                            does not look into it: give --add-modules for\n"
    "                            what it needs beyond the application\n"
    "\n"
    "The Java runtime (JRE):\n"
    "  --jre jlink               made by the JDK's jlink (default): the JDK of\n"
    "                            JAVA_HOME, or of the javac on the PATH; the modules\n"
    "                            are those jdeps finds the jars (and the updater)\n"
    "                            need, without debug information, header files or\n"
    "                            manual pages\n"
    "  --jre DIR                 a ready runtime image (DIR/bin/java)\n"
    "  --jre none                no JRE in the file: a run adopts a system JRE that\n"
    "                            qualifies, otherwise downloads one from the update\n"
    "                            URL. A system JRE qualifies only with unpack200,\n"
    "                            which Java 14 and later do not ship: on machines\n"
    "                            with a current Java the JRE is downloaded, so give\n"
    "                            --update-url and put the files of --publish there\n"
    "  --add-modules M[,M...]    the modules of the jlink image instead of jdeps'\n"
    "  --jre-name NAME           the JRE's name, in its folder name (default\n"
    "                            Linux64JRE)\n"
    "  --jre-version V           its version (default: from its release file,\n"
    "                            17.0.15 as 00017000015)\n"

    "  --publish-jre DIR         with --jre none and --publish: the runtime image\n"
    "                            to publish (default: one made by jlink)\n"
    "\n"
    "The update channel (copy DIR to the update URL):\n"
    "  --publish DIR             add this release to DIR: the archives of the\n"
    "                            updater, the application and the JRE\n"
    "                            (Velmoran-NAME-V-archive.p2.l2, the bytes the file\n"
    "                            carries), Velmoran-JRENAME-version.txt for a JRE\n"
    "                            download, and Velmoran-APP-manifest.p2, which lists\n"
    "                            the archives with their sizes and SHA-256 (signed\n"
    "                            with --sign, like the archives). Installed\n"
    "                            launchers with this --update-url check it on each\n"
    "                            start and install what is newer. Archives of\n"
    "                            older releases stay\n"
    "  --prune                   with --publish: remove the archives of the\n"
    "                            updater, the application and the JRE in DIR that\n"
    "                            the new manifest does not list (nothing else;\n"
    "                            what other applications' manifests in DIR list\n"
    "                            stays)\n"
    "  --required                with --publish: this release must be installed\n"
    "                            before the application starts again (the next\n"
    "                            start waits for it)\n"
    "  --rollback                with --publish: installed launchers take this\n"
    "                            release even where its versions are lower\n"
    "  --online                  leave the application out of the file: its first\n"
    "                            run downloads it from --update-url (required), so\n"
    "                            publish it there with --publish\n"
    "  A new release: the same command with the same DIR (a new version is the\n"
    "  default), then copy DIR to the server again. Each start runs what is\n"
    "  installed and fetches what is newer for the next start, so users run the\n"
    "  release from their second start on.\n"
    "\n"
    "The rest, as 'launcher' takes them:\n"
    "  --splash PNG              the image shown while installing (default: a\n"
    "                            neutral one that comes with this tool)\n"
    "  --sign KEY                sign every archive with the private key from\n"
    "                            'keygen' and embed its public key: runs verify\n"
    "                            the archives of the file and refuse altered ones,\n"
    "                            and refuse a downloaded JRE not signed with it\n"
    "  --update-url URL          the update channel: where updates and a JRE are\n"
    "                            downloaded from, or D to take the update_url\n"
    "                            parameter (default: none, no updates)\n"
    "  --install-type TYPE       perm_user (default), perm_all or temporary\n"
    "  --java-version N          the Java version a system JRE must have at least\n"
    "  --param NAME=VALUE        a parameter for the updater and the application,\n"
    "                            which reads it as the system property NAME\n"
    "                            (repeatable, in order)\n"
    "\n"
    "The menu entry (the first install writes it, uninstalling removes it):\n"
    "  --icon PNG                its icon (default: the splash image)\n"
    "  --categories LIST         its categories, such as Development;Utility\n"
    "                            (default: Utility)\n"
    "  --no-desktop-entry        write no menu entry\n"
    "\n"
    "Output:\n"
    "  -o, --output FILE         the launcher file to write (executable)\n"
    "  --stub FILE               the launcher program (default: velmoran-launcher\n"
    "                            beside this tool)\n"
    "  --lzma64 FILE             the LZMA decompressor it carries (default: lzma64\n"
    "                            beside this tool)\n"
    "  --compress N              LZMA effort for the archives, 0 (fastest) to 9\n"
    "                            (default 6); the dictionary, and so the memory a\n"
    "                            run needs, stays 8 MiB\n"
    "  --no-cache                make the JRE and its archive afresh, without the\n"
    "                            cache in $XDG_CACHE_HOME/velmoran (~/.cache/velmoran)\n"
    "\n"
    "The three archives are compressed at once, each on a core of its own. The\n"
    "image jlink makes and the JRE's archive are kept in the cache, keyed by\n"
    "what goes into them: the next build with the same JDK and modules (or the\n"
    "same --jre files), --compress and --sign key takes them from there.\n"
    "\n"
    "Progress of the long steps (jlink, compression) shows on a terminal only.\n"
    "A failed run leaves no output. Exit status: 0 when the file is written and\n"
    "passes the check, 1 when something fails, 2 for a wrong command line.\n";

constexpr const char* kUpdaterJar = "velmoran-updater.jar";
constexpr const char* kUpdaterClass = "dev.velmoran.updater.Updater";
constexpr const char* kUpdaterCompatibilityClass = "dev.velmoran.updater.JreCompatibility";
constexpr const char* kDefaultJreName = "Linux64JRE";
constexpr std::size_t kVersionDigits = 11;

struct Options {
  std::string output, name, input, mainClass;
  std::vector<std::string> classpath, args;
  int64_t maxHeap = 0, initialHeap = 0;
  std::string appVersion;
  std::optional<std::string> updaterArchive, updaterVersion;
  std::string jre = "jlink";
  std::optional<std::string> addModules, jreVersion, publish, publishJre, splash, signingKey, stub, lzma64;
  std::string jreName = kDefaultJreName;
  std::string updateUrl = std::string(kPlaceholderUpdateUrl) + "/";
  std::string installType = "perm_user";
  std::string javaVersion;
  std::vector<Param> params;
  std::vector<std::string> jvmOptions;  // --jvm-option and --java-property, in order
  std::optional<std::string> icon, categories;
  bool desktopEntry = true;
  bool cache = true;
  uint32_t compress = LzmaSink::kDefaultPreset;
  bool prune = false, required = false, rollback = false, online = false;
};

int64_t megabytes(const char* option, const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    usage(std::string(option) + " must be a whole number of megabytes; got '" + text + "'");
  }
  return std::stoll(text);
}

// 1 to 11 digits, given as the version folders spell them: zero-padded to 11.
std::string version(const char* option, const std::string& text) {
  if (text.empty() || text.size() > kVersionDigits || text.find_first_not_of("0123456789") != std::string::npos) {
    usage(std::string(option) + " must be at most 11 decimal digits, such as 00000000042; got '" + text + "'");
  }
  return std::string(kVersionDigits - text.size(), '0') + text;
}

bool isJavaName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '.' || static_cast<unsigned char>(c) >= 0x80;
  });
}

Param splitParam(const std::string& text) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0) usage("--param needs NAME=VALUE, got '" + text + "'");
  Param p{text.substr(0, eq), text.substr(eq + 1)};
  if (p.first == "jre_name") usage("give the JRE's name with --jre-name, not --param jre_name");
  return p;
}

// The build time, or SOURCE_DATE_EPOCH where a reproducible build sets it.
std::string versionFromBuildTime() {
  long long seconds = static_cast<long long>(std::time(nullptr));
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    const std::string text = epoch;
    if (text.size() > kVersionDigits || text.find_first_not_of("0123456789") != std::string::npos) {
      usage("SOURCE_DATE_EPOCH must be seconds since 1970 (at most 11 digits); got '" + text + "'");
    }
    seconds = std::stoll(text);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%011lld", seconds);
  return text;
}

// The options of what the application gets on its users' machines (JVM
// options, the menu entry) and of the build's cache; true when the next
// argument was one of them.
bool takeShippingOption(Args& a, Options& o) {
  if (a.option("--jvm-option")) o.jvmOptions.push_back(jvmOptionOf(a.value()));
  else if (a.option("--java-property")) o.jvmOptions.push_back(javaPropertyOption(a.value()));
  else if (a.option("--icon")) o.icon = a.value();
  else if (a.option("--categories")) o.categories = desktopCategoriesOf(a.value());
  else if (a.flag("--no-desktop-entry")) o.desktopEntry = false;
  else if (a.flag("--no-cache")) o.cache = false;
  else return false;
  return true;
}

// The options missing, malformed or given together where they cannot be.
void refuseConflicts(const Options& o) {
  if (o.output.empty()) usage("no output file given (-o FILE)");
  if (o.name.empty()) usage("no application name given (--name NAME)");
  if (o.input.empty()) usage("no folder of jars given (--input DIR)");
  if (o.mainClass.empty()) usage("no main class given (--main-class CLASS)");
  if (!isJavaName(o.mainClass)) usage("--main-class must be a class name such as com.example.Main; got '" + o.mainClass + "'");
  if (o.maxHeap > 0 && o.initialHeap > o.maxHeap) usage("--initial-heap is larger than --max-heap");
  if (o.updaterArchive.has_value() != o.updaterVersion.has_value()) {
    usage("--updater-archive and --updater-version go together");
  }
  if (o.addModules && !isModuleList(*o.addModules)) {
    usage("--add-modules takes module names separated by commas, such as java.base,java.desktop");
  }
  if (o.addModules && o.jre != "jlink" && !(o.jre == "none" && o.publish && !o.publishJre)) {
    usage("--add-modules is for a runtime image made by jlink");
  }
  if (o.publishJre && (o.jre != "none" || !o.publish)) usage("--publish-jre goes with --jre none and --publish");
  if (o.icon && o.updaterArchive) {
    usage(std::string("--icon goes into the project's updater; with --updater-archive put ") + kMenuIconName +
          " at the top of that archive");
  }
  if (!o.desktopEntry && (o.icon || o.categories)) usage("--icon and --categories are for the menu entry, which "
                                                         "--no-desktop-entry leaves out");
  if (o.jre == "none" && o.jreVersion && !o.publish) usage("--jre-version needs a JRE (--jre none has none)");
  if ((o.prune || o.required || o.rollback) && !o.publish) {
    usage("--prune, --required and --rollback go with --publish");
  }
  if (o.online && o.updateUrl.rfind(kPlaceholderUpdateUrl, 0) == 0) {
    usage("--online needs --update-url: the application is downloaded from there");
  }
}

Options parse(const std::vector<std::string>& argv) {
  Options o;
  Args a(argv);
  while (!a.done()) {
    if (a.option("-o") || a.option("--output")) o.output = a.value();
    else if (a.option("--name")) o.name = a.value();
    else if (a.option("--input")) o.input = a.value();
    else if (a.option("--main-class")) o.mainClass = a.value();
    else if (a.option("--classpath")) o.classpath.push_back(a.value());
    else if (a.option("--max-heap")) o.maxHeap = megabytes("--max-heap", a.value());
    else if (a.option("--initial-heap")) o.initialHeap = megabytes("--initial-heap", a.value());
    else if (a.option("--arg")) o.args.push_back(a.value());
    else if (a.option("--app-version")) o.appVersion = version("--app-version", a.value());
    else if (a.option("--updater-archive")) o.updaterArchive = a.value();
    else if (a.option("--updater-version")) o.updaterVersion = version("--updater-version", a.value());
    else if (a.option("--jre")) o.jre = a.value();
    else if (a.option("--add-modules")) o.addModules = a.value();
    else if (a.option("--jre-name")) o.jreName = a.value();
    else if (a.option("--jre-version")) o.jreVersion = version("--jre-version", a.value());
    else if (a.option("--publish")) o.publish = a.value();
    else if (a.option("--publish-jre")) o.publishJre = a.value();
    else if (a.flag("--prune")) o.prune = true;
    else if (a.flag("--required")) o.required = true;
    else if (a.flag("--rollback")) o.rollback = true;
    else if (a.flag("--online")) o.online = true;
    else if (a.option("--splash")) o.splash = a.value();
    else if (a.option("--sign")) o.signingKey = a.value();
    else if (a.option("--update-url")) o.updateUrl = a.value();
    else if (a.option("--install-type")) o.installType = a.value();
    else if (a.option("--java-version")) o.javaVersion = a.value();
    else if (a.option("--param")) o.params.push_back(splitParam(a.value()));
    else if (takeShippingOption(a, o)) continue;
    else if (a.option("--stub")) o.stub = a.value();
    else if (a.option("--lzma64")) o.lzma64 = a.value();
    else if (a.option("--compress")) {
      if (a.value().size() != 1 || a.value()[0] < '0' || a.value()[0] > '9') {
        usage("--compress must be 0 (fastest) to 9; got '" + a.value() + "'");
      }
      o.compress = static_cast<uint32_t>(a.value()[0] - '0');
    } else usage("unknown argument '" + a.peek() + "' (try --help)");
  }
  refuseConflicts(o);
  if (o.appVersion.empty()) o.appVersion = versionFromBuildTime();
  return o;
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The jars at the top of folder, in name order.
std::vector<std::string> jarsIn(const std::string& folder) {
  std::vector<std::string> jars;
  DirPtr dir = openDir(folder.c_str());
  if (!dir) fail("cannot read the folder " + folder + ": " + std::strerror(errno));
  while (const dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (endsWith(name, ".jar") && isFile(folder + "/" + name)) jars.push_back(name);
  }
  std::sort(jars.begin(), jars.end());
  return jars;
}

struct ClassPath {
  std::vector<std::string> entries;  // relative to the input folder
  std::vector<std::string> jars;     // every jar they take, as paths
};

// The class path and the jars it takes; fails unless one of them holds the main class.
ClassPath resolveClassPath(const Options& o) {
  ClassPath cp;
  const std::string classFile = [&] {
    std::string path = o.mainClass;
    std::replace(path.begin(), path.end(), '.', '/');
    return path + ".class";
  }();
  bool found = false;
  if (o.classpath.empty()) {
    cp.entries = jarsIn(o.input);
    if (cp.entries.empty()) fail(o.input + " holds no .jar files; give the folder of the application's jars");
  } else {
    cp.entries = o.classpath;
  }
  for (const std::string& entry : cp.entries) {
    if (entry.empty() || entry.front() == '/' || entry.find(':') != std::string::npos ||
        ("/" + entry + "/").find("/../") != std::string::npos) {
      usage("--classpath entry '" + entry + "' must be a path inside " + o.input + " without ':'");
    }
    const std::string path = o.input + "/" + entry;
    if (entry == "*" || endsWith(entry, "/*")) {
      const std::string folder = path.substr(0, path.size() - 2);
      if (!isFolder(folder)) fail("--classpath entry '" + entry + "': " + folder + " is not a folder");
      for (const std::string& jar : jarsIn(folder)) cp.jars.push_back(folder + "/" + jar);
    } else if (isFolder(path)) {
      found = found || isFile(path + "/" + classFile);
    } else if (isFile(path)) {
      cp.jars.push_back(path);
    } else {
      fail("--classpath entry '" + entry + "' is not in " + o.input);
    }
  }
  for (const std::string& jar : cp.jars) {
    if (found) break;
    found = jarEntryNames(jar).contains(classFile);
  }
  if (!found) {
    fail("no jar of the class path holds the main class " + o.mainClass + " (" + classFile + "); check --main-class");
  }
  return cp;
}

struct Jre {
  std::string image;    // its folder
  std::string version;  // 11 digits
  std::string how;      // for the summary
  std::optional<std::string> treeDigest;  // once known
};

Jre readyJre(const std::string& folder, const std::optional<std::string>& givenVersion, const std::string& how) {
  if (access((folder + "/bin/java").c_str(), X_OK) != 0) {
    fail(folder + " is not a runtime image: it has no bin/java (make one with jlink)");
  }
  Jre jre{folder, givenVersion.value_or(""), how, std::nullopt};
  if (jre.version.empty()) {
    const std::optional<JavaVersion> v = releaseVersion(folder);
    const std::optional<std::string> number = v ? versionNumber(*v) : std::nullopt;
    if (!number) fail(folder + "/release tells no Java version (JAVA_VERSION); give --jre-version");
    jre.version = *number;
  }
  return jre;
}

// What app takes from outside the command line, read and judged before the
// long steps.
struct Inputs {
  std::optional<Bytes> privateKey;
  std::string publicKey;  // its public half, as the header carries it
  ClassPath classPath;
  std::string splash, stub, lzma64;
  std::string updaterJar;       // the project's updater, unless another is given
  std::optional<std::string> icon;  // the menu entry's, in the updater's folder
  std::optional<Jre> readyJre;  // --jre DIR, or --publish-jre DIR
};

// Every output is proven writable before the long steps, so a read-only
// place fails at once rather than after jlink and the compression.
void checkFolders(const Options& o) {
  if (!isFolder(o.input)) fail(o.input + " is not a folder");
  checkWritableOutput(o.output, "-o");
  if (o.publish) checkWritableFolder(*o.publish, "--publish");
}

void readSigningKey(const Options& o, Inputs& in) {
  if (!o.signingKey) return;
  in.privateKey = readWholeFile(*o.signingKey);
  try {
    in.publicKey = publicKeyHexOf(*in.privateKey);
  } catch (const Failure& e) {
    fail("--sign " + *o.signingKey + ": " + e.message + " (give the private key file from 'velmoran-pack keygen')");
  }
}

std::string pngFile(const std::optional<std::string>& given) {
  const std::string splash = given ? *given : bundledData("splash.png", "--splash");
  const Bytes png = readWholeFile(splash);
  static constexpr unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (png.size() < sizeof kPng || !std::equal(kPng, kPng + sizeof kPng, png.begin())) {
    fail(splash + " is not a PNG image");
  }
  return splash;
}

uint64_t sizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

Inputs readInputs(const Options& o) {
  checkFolders(o);
  Inputs in;
  readSigningKey(o, in);
  in.classPath = resolveClassPath(o);
  in.splash = pngFile(o.splash);
  if (o.icon) {
    in.icon = pngFile(o.icon);
    if (sizeOf(*in.icon) > kMaxMenuIconBytes) {
      fail(*o.icon + " is larger than the 4 MiB the launcher takes for an icon; give a smaller one");
    }
  }
  in.stub = o.stub ? *o.stub : bundledProgram("velmoran-launcher", "--stub");
  in.lzma64 = o.lzma64 ? *o.lzma64 : bundledProgram(kDecompressorName, "--lzma64");
  if (isFile(o.input + "/" + kLaunchFileName)) {
    fail(o.input + " holds a " + kLaunchFileName + "; app writes the application's own, so remove it");
  }
  if (o.updaterArchive) {
    if (!isFile(*o.updaterArchive)) fail("cannot read " + *o.updaterArchive);
  } else {
    in.updaterJar = bundledData(kUpdaterJar, "--updater-archive");
  }
  if (o.jre != "jlink" && o.jre != "none") in.readyJre = readyJre(o.jre, o.jreVersion, "the runtime image " + o.jre);
  if (o.publishJre) in.readyJre = readyJre(*o.publishJre, o.jreVersion, "the runtime image " + *o.publishJre);
  return in;
}

// The launcher file's settings, and the files it carries: what app is given
// and the archives it makes in work. The JRE joins once it is made, as its
// version may come from the image jlink writes.
LauncherSpec launcherSpec(const Options& o, const Inputs& in, const TempFolder& work) {
  LauncherSpec spec;
  TailHeader& h = spec.header;
  h.appName = o.name;
  // An online file carries no application: its updater fetches it on the first run.
  h.appVersion = o.online ? "" : o.appVersion;
  h.guVersion = o.updaterVersion.value_or(o.appVersion);
  h.minSplashMs = "0";
  h.signaturePublicKey = in.publicKey;
  h.canOverrideSplash = "0";
  h.installType = o.installType;
  h.requiredJavaVersion = o.javaVersion;
  h.updateUrl = o.updateUrl;
  spec.jreName = o.jreName;
  spec.params.emplace_back("jre_name", o.jreName);
  // Before the --param pairs, which the launcher reads later and so win.
  if (!o.desktopEntry) spec.params.emplace_back(kDesktopEntryParam, "false");
  if (o.categories) spec.params.emplace_back(kDesktopCategoriesParam, *o.categories);
  spec.params.insert(spec.params.end(), o.params.begin(), o.params.end());
  spec.files = {{TailEntryRole::Decompressor, in.lzma64},
                {TailEntryRole::SplashImage, in.splash},
                {TailEntryRole::UpdaterArchive, o.updaterArchive.value_or(work / "updater.p2.l2")}};
  if (!o.online) spec.files[TailEntryRole::AppArchive] = work / "app.p2.l2";
  return spec;
}

// A signer of its own for each archive, its salt derived from the key and
// the bytes, so the same inputs give the same file; none without --sign.
// The signers live until every archive is written, each on its own thread.
class ArchiveSigning {
 public:
  explicit ArchiveSigning(const std::optional<Bytes>& key) : key_(key) {}
  Signer* next() {
    if (!key_) return nullptr;
    signers_.push_back(std::make_unique<KeySigner>(*key_, KeySigner::Salt::kDerived));
    return signers_.back().get();
  }

 private:
  const std::optional<Bytes>& key_;
  std::vector<std::unique_ptr<KeySigner>> signers_;
};

// An LZMA-compressed archive of root (plus the extra files), as archive --lzma writes it.
ArchiveFileJob archiveJob(const std::string& root, const std::string& out, const Options& o,
                          std::vector<ExtraFile> extra, Signer* signer, const std::string& skip = {}) {
  ArchiveOptions options;
  options.signer = signer;
  options.extraFiles = std::move(extra);
  return {root, out, o.compress, std::move(options), skip, {}};
}

// The JRE archive's cache key: the tree, how it is compressed, and the key
// it is signed with (the signature block lies inside the compressed stream,
// so a signed archive is cached whole, its salt derived and so the same).
std::string jreArchiveKey(const Options& o, const Inputs& in, const std::string& treeDigest) {
  return textDigest("JRE archive\ntree " + treeDigest + "\npreset " + std::to_string(o.compress) + "\ndictionary " +
                    std::to_string(kTailLzmaDictionarySize) + "\nliblzma " + lzma_version_string() + "\nsigned by " +
                    (in.publicKey.empty() ? "none" : textDigest(in.publicKey)));
}

// jdeps takes seconds: what it said of the same jars and JDK is kept.
std::string cachedModuleDeps(const Jdk& jdk, const std::vector<std::string>& jars, const BuildCache& cache) {
  std::string identity = "jdeps\n" + jdkIdentity(jdk);
  for (const std::string& jar : jars) identity += "jar " + fileDigest(jar) + "\n";
  const std::string key = textDigest(identity);
  if (const std::optional<std::string> known = cache.fetchText("modules", key); known && isModuleList(*known)) {
    return *known;
  }
  const std::string modules = moduleDeps(jdk, jars);
  cache.storeText("modules", key, modules);
  return modules;
}

Jre jlinkJre(const Options& o, const TempFolder& work, const Inputs& in, const BuildCache& cache) {
  const Jdk jdk = findJdk();
  std::string modules;
  if (o.addModules) {
    modules = *o.addModules;
  } else {
    std::vector<std::string> jars = in.classPath.jars;
    if (!in.updaterJar.empty()) jars.push_back(in.updaterJar);
    modules = cachedModuleDeps(jdk, jars, cache);
  }
  const BuildCache::Image image = cache.image(textDigest(jlinkIdentity(jdk, modules)), work / "jre",
                                             [&](const std::string& out) { jlinkImage(jdk, modules, out); });
  Jre jre = readyJre(image.folder, o.jreVersion,
                     std::string(image.reused ? "the cached image jlink made from " : "made by jlink from ") +
                         jdk.home + ": " + modules);
  jre.treeDigest = image.digest;
  return jre;
}

// The JRE, in the file or to publish: the image given, or one jlink makes.
std::optional<Jre> provideJre(const Options& o, const TempFolder& work, const Inputs& in, const BuildCache& cache) {
  if (o.jre == "none" && !o.publish) return std::nullopt;
  if (in.readyJre) return in.readyJre;
  return jlinkJre(o, work, in, cache);
}

// The project's updater: its jar and its launch file (as launchfile writes
// one), in a tree of their own.
ArchiveFileJob updaterArchiveJob(const Options& o, const Inputs& in, const TempFolder& work, const std::string& out,
                                 Signer* signer) {
  const std::string tree = work / "updater";
  if (mkdir(tree.c_str(), 0755) != 0) fail("cannot make " + tree + ": " + std::strerror(errno));
  writeWholeFile(tree + "/" + kUpdaterJar, readWholeFile(in.updaterJar));
  LaunchFile launch;
  launch.mainClass = kUpdaterClass;
  // The updater runs as a copy of java under the application's name.
  launch.appName = o.name;
  // The application's JVM: the updater then starts it in its own.
  launch.jvmMem = o.maxHeap;
  launch.jvmStack = o.initialHeap;
  launch.appJvmOptions = o.jvmOptions;
  launch.classpath = {kUpdaterJar};
  launch.compatibilityClass = kUpdaterCompatibilityClass;
  std::vector<ExtraFile> extra = {{std::string(kLaunchFileName), writeLaunchFile(launch)}};
  if (in.icon) extra.push_back({kMenuIconName, readWholeFile(*in.icon)});
  return archiveJob(tree, out, o, std::move(extra), signer);
}

// The application: the input folder and its launch file.
ArchiveFileJob appArchiveJob(const Options& o, const Inputs& in, const std::string& out, Signer* signer) {
  LaunchFile launch;
  launch.mainClass = o.mainClass;
  launch.appName = o.name;
  launch.jvmMem = o.maxHeap;
  launch.jvmStack = o.initialHeap;
  launch.classpath = in.classPath.entries;
  launch.extraArgs = o.args;
  launch.appJvmOptions = o.jvmOptions;
  return archiveJob(o.input, out, o, {{std::string(kLaunchFileName), writeLaunchFile(launch)}}, signer, o.output);
}

// What was made, for the summary.
struct Made {
  std::size_t fileSize = 0;
  int warnings = 0;
  std::optional<Jre> jre;
  bool jreArchiveCached = false;
  std::string publishedNames;
  std::vector<std::string> pruned;
};

// The three archives side by side, each on a core of its own; the JRE's
// from the cache when its tree, compression and key are the same as before.
void makeArchives(const Options& o, const Inputs& in, const TempFolder& work, const LauncherSpec& spec,
                  const BuildCache& cache, ArchiveSigning& signing, Made& made, const std::string& jreArchive,
                  const std::string& appArchive) {
  std::vector<ArchiveFileJob> jobs;
  std::optional<std::string> jreKey;
  if (made.jre) {
    if (!made.jre->treeDigest) made.jre->treeDigest = treeDigest(made.jre->image);
    jreKey = jreArchiveKey(o, in, *made.jre->treeDigest);
    made.jreArchiveCached = o.cache && cache.fetchArchive(*jreKey, jreArchive);
    if (!made.jreArchiveCached) jobs.push_back(archiveJob(made.jre->image, jreArchive, o, {}, signing.next()));
  }
  if (!o.updaterArchive) {
    jobs.push_back(updaterArchiveJob(o, in, work, spec.files.at(TailEntryRole::UpdaterArchive), signing.next()));
  }
  // An online file carries no application; the channel still gets it.
  jobs.push_back(appArchiveJob(o, in, appArchive, signing.next()));
  writeArchiveFiles(jobs, "compressing the archives");
  if (made.jre && !made.jreArchiveCached) cache.storeArchive(*jreKey, jreArchive);
}

// Checks the file as check does, from its temporary name, so a file that
// fails its check never appears; only what needs attention is shown.
CheckCounts writeChecked(AtomicOutput& out, const Bytes& bytes) {
  out.write(bytes);
  if (std::fflush(out.file()) != 0) fail("cannot write the launcher file: " + std::string(std::strerror(errno)));
  char* text = nullptr;
  std::size_t length = 0;
  FILE* report = open_memstream(&text, &length);
  if (report == nullptr) fail("cannot check the launcher file");
  CheckCounts counts;
  try {
    counts = checkLauncherFile(out.writingPath(), report);
  } catch (...) {
    std::fclose(report);
    std::free(text);
    throw;
  }
  std::fclose(report);
  const std::string lines(text, length);
  std::free(text);
  // The ok lines would drown the rest.
  std::size_t at = 0;
  while (at < lines.size()) {
    const std::size_t end = std::min(lines.find('\n', at), lines.size());
    const std::string line = lines.substr(at, end - at);
    if (line.rfind("error: ", 0) == 0 || line.rfind("warning: ", 0) == 0) std::fprintf(stderr, "check: %s\n", line.c_str());
    at = end + 1;
  }
  if (counts.errors > 0) {
    fail("the launcher file fails its check (" + std::to_string(counts.errors) + " errors above); nothing was written");
  }
  return counts;
}

// The release on the update channel in --publish: the archives the file
// carries (and the application's, which an online file does not), the JRE's,
// and the manifest, signed like them.
StagedChannel stageRelease(const Options& o, const LauncherSpec& spec, const Jre& jre, const std::string& appArchive,
                           const std::string& jreArchive, Signer* signer, const TempFolder& work) {
  Release release;
  release.appName = o.name;
  release.required = o.required;
  release.rollback = o.rollback;
  release.pieces = {{ManifestKind::Updater, kUpdaterComponent, spec.header.guVersion,
                     spec.files.at(TailEntryRole::UpdaterArchive)},
                    {ManifestKind::Application, o.name, o.appVersion, appArchive},
                    {ManifestKind::Jre, o.jreName, jre.version, jreArchive}};
  return stageChannel(*o.publish, release, signer, work.path(), o.prune);
}

std::string mib(uint64_t bytes) {
  char text[32];
  if (bytes < (1 << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / (1 << 10));
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  }
  return text;
}

std::string classPathText(const std::vector<std::string>& entries) {
  std::string text = entries[0];
  for (std::size_t i = 1; i < entries.size() && i < 4; ++i) text += ":" + entries[i];
  if (entries.size() > 4) text += " and " + std::to_string(entries.size() - 4) + " more";
  return text;
}

void printSummary(const Options& o, const Inputs& in, const LauncherSpec& spec, const Made& made) {
  const TailHeader& h = spec.header;
  const auto fileOf = [&spec](TailEntryRole role) { return spec.files.at(role); };
  std::printf("Wrote %s: %s, passes check (%d warnings)\n", o.output.c_str(), mib(made.fileSize).c_str(),
              made.warnings);
  std::printf("  application %s %s: main class %s, class path %s (%s)\n", o.name.c_str(), o.appVersion.c_str(),
              o.mainClass.c_str(), classPathText(in.classPath.entries).c_str(),
              o.online ? ("not in the file: its first run downloads it from " + o.updateUrl).c_str()
                       : mib(sizeOf(fileOf(TailEntryRole::AppArchive))).c_str());
  std::printf("  updater %s: %s (%s)\n", h.guVersion.c_str(),
              o.updaterArchive ? o.updaterArchive->c_str() : "the project's own, starting the newest installed version",
              mib(sizeOf(fileOf(TailEntryRole::UpdaterArchive))).c_str());
  if (!h.jreVersion.empty()) {
    std::printf("  JRE %s %s: %s (%s%s)\n", o.jreName.c_str(), h.jreVersion.c_str(), made.jre->how.c_str(),
                mib(sizeOf(fileOf(TailEntryRole::JreArchive))).c_str(),
                made.jreArchiveCached ? ", its archive from the cache" : "");
  } else {
    std::printf("  no JRE: a system JRE with unpack200, or %s\n",
                o.updateUrl.rfind(kPlaceholderUpdateUrl, 0) == 0 ? "none (no --update-url to download one from)"
                                                                 : ("downloaded from " + o.updateUrl).c_str());
  }
  std::printf("  %s\n", in.privateKey ? "every archive signed, the public key embedded" : "not signed");
  if (o.publish) std::printf("  published in %s: %s\n", o.publish->c_str(), made.publishedNames.c_str());
  for (const std::string& name : made.pruned) {
    std::printf("  removed %s/%s (--prune)\n", o.publish->c_str(), name.c_str());
  }
  const std::string master = sharedDirectoryOf(installTypeOf(o.installType), "~") + "/" + masterFolderName(o.name);
  const std::string run = o.output.find('/') == std::string::npos ? "./" + o.output : o.output;
  std::printf("Run it: %s   (its first run installs into %s)\n", run.c_str(), master.c_str());
}

// The steps of archive, launchfile, launcher and check, one after the other:
// the JRE, the updater and the application as archives, the launcher file
// made of them, checked, then published with what the update server serves.
int runApp(const std::vector<std::string>& argv) {
  const Options o = parse(argv);
  // Everything that can be refused is refused before the long steps.
  const Inputs in = readInputs(o);
  // Made after the handlers, so it is removed before they go.
  const InterruptibleSteps steps;
  const TempFolder work("velmoran-app");
  LauncherSpec spec = launcherSpec(o, in, work);
  refuseFaults(specFaults(spec));
  if (o.publish && o.updateUrl.rfind(kPlaceholderUpdateUrl, 0) == 0) {
    std::fprintf(stderr, "note: --publish without --update-url: this file checks no update channel\n");
  }
  if (o.jre == "none" && o.updateUrl.rfind(kPlaceholderUpdateUrl, 0) == 0) {
    std::fprintf(stderr, "note: --jre none without --update-url: only a system JRE with unpack200 (Java 13 or "
                         "older) can run this file\n");
  }

  Made made;
  const BuildCache cache(o.cache ? defaultCacheFolder() : std::nullopt);
  made.jre = provideJre(o, work, in, cache);
  const std::string jreArchive = work / "jre.p2.l2";
  ArchiveSigning signing(in.privateKey);
  const std::string appArchive = work / "app.p2.l2";
  makeArchives(o, in, work, spec, cache, signing, made, jreArchive, appArchive);
  if (made.jre && o.jre != "none") {
    spec.header.jreVersion = made.jre->version;
    spec.files[TailEntryRole::JreArchive] = jreArchive;
  }

  const LauncherFile file = buildLauncherFile(in.stub, spec);
  AtomicOutput out(o.output, 0755);
  made.fileSize = file.bytes.size();
  made.warnings = writeChecked(out, file.bytes).warnings;
  std::optional<StagedChannel> channel;
  if (o.publish) channel = stageRelease(o, spec, *made.jre, appArchive, jreArchive, signing.next(), work);
  out.commit();
  if (channel) {
    channel->commit();
    made.publishedNames = channel->names();
    made.pruned = channel->pruned();
  }
  printSummary(o, in, spec, made);
  return 0;
}
}  // namespace

constinit const Command kAppCommand{
    "app", "make a complete, checked launcher file from a folder of jars", kHelp, runApp};

}  // namespace velmoran::pack
