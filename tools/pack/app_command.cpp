// velmoran-pack app: one command from a folder of jars to a checked
// launcher file. It does in-process what archive, launchfile, launcher and
// check do one by one, with a runtime image made by jlink.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ftw.h>
#include <memory>
#include <optional>
#include <set>

#include "archive_writer.h"
#include "bundled.h"
#include "check.h"
#include "cli.h"
#include "commands.h"
#include "jar_scan.h"
#include "jdk.h"
#include "launch_file_writer.h"
#include "launcher_file.h"
#include "net/update_url.h"
#include "progress.h"
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
    "  --app-version V           its version: 11 digits, compared as numbers, e.g.\n"
    "                            00000000042; a run installs it when no higher one\n"
    "                            is installed. Default: the build time in seconds\n"
    "                            since 1970-01-01 UTC, 11 digits (SOURCE_DATE_EPOCH\n"
    "                            when set), so every build is newer than the last\n"
    "\n"
    "The updater:\n"
    "  By default the project's own minimal updater: it starts the newest\n"
    "  installed version of the application on the newest installed JRE and checks\n"
    "  nothing on the network; it never downloads an update. Its version is the\n"
    "  application's.\n"
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

    "  --publish DIR             also write what the update server serves for a JRE\n"
    "                            download: Velmoran-JRENAME-version.txt and\n"
    "                            Velmoran-JRENAME-V-archive.p2.l2 (signed with\n"
    "                            --sign), ready to copy to the update URL. With\n"
    "                            --jre none the JRE is made by jlink, or taken\n"
    "                            from --publish-jre DIR\n"
    "  --publish-jre DIR         with --jre none: the runtime image to publish\n"
    "\n"
    "The rest, as 'launcher' takes them:\n"
    "  --splash PNG              the image shown while installing (default: a\n"
    "                            neutral one that comes with this tool)\n"
    "  --sign KEY                sign every archive with the private key from\n"
    "                            'keygen' and embed its public key: runs verify\n"
    "                            the archives of the file and refuse altered ones,\n"
    "                            and refuse a downloaded JRE not signed with it\n"
    "  --update-url URL          where a JRE is downloaded from (and an updater\n"
    "                            would look for updates), or D to take the\n"
    "                            update_url parameter (default: none)\n"
    "  --install-type TYPE       perm_user (default), perm_all or temporary\n"
    "  --java-version N          the Java version a system JRE must have at least\n"
    "  --param NAME=VALUE        a parameter for the updater and the application\n"
    "                            (repeatable, in order)\n"
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
    "\n"
    "Progress of the long steps (jlink, compression) shows on a terminal only.\n"
    "A failed run leaves no output. Exit status: 0 when the file is written and\n"
    "passes the check, 1 when something fails, 2 for a wrong command line.\n";

constexpr const char* kUpdaterJar = "velmoran-updater.jar";
constexpr const char* kUpdaterClass = "dev.velmoran.updater.Updater";
constexpr const char* kUpdaterCompatibilityClass = "dev.velmoran.updater.JreCompatibility";
constexpr int64_t kUpdaterMaxHeap = 64;
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
  uint32_t compress = LzmaSink::kDefaultPreset;
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
    else if (a.option("--splash")) o.splash = a.value();
    else if (a.option("--sign")) o.signingKey = a.value();
    else if (a.option("--update-url")) o.updateUrl = a.value();
    else if (a.option("--install-type")) o.installType = a.value();
    else if (a.option("--java-version")) o.javaVersion = a.value();
    else if (a.option("--param")) o.params.push_back(splitParam(a.value()));
    else if (a.option("--stub")) o.stub = a.value();
    else if (a.option("--lzma64")) o.lzma64 = a.value();
    else if (a.option("--compress")) {
      if (a.value().size() != 1 || a.value()[0] < '0' || a.value()[0] > '9') {
        usage("--compress must be 0 (fastest) to 9; got '" + a.value() + "'");
      }
      o.compress = static_cast<uint32_t>(a.value()[0] - '0');
    } else usage("unknown argument '" + a.peek() + "' (try --help)");
  }
  if (o.output.empty()) usage("no output file given (-o FILE)");
  if (o.name.empty()) usage("no application name given (--name NAME)");
  if (o.input.empty()) usage("no folder of jars given (--input DIR)");
  if (o.mainClass.empty()) usage("no main class given (--main-class CLASS)");
  checkComponentName("application name", o.name);
  checkComponentName("JRE name", o.jreName);
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
  if (o.jre == "none" && o.jreVersion && !o.publish) usage("--jre-version needs a JRE (--jre none has none)");
  const std::string& type = o.installType;
  if (type != "perm_all" && type != "perm_user" && type != "temporary") {
    usage("--install-type must be perm_all, perm_user or temporary; got '" + type + "'");
  }
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

// Counts what goes into the compressor, for the progress line.
class CountingSink : public ByteSink {
 public:
  CountingSink(std::unique_ptr<ByteSink> next, Progress& progress) : next_(std::move(next)), progress_(progress) {}
  void write(std::span<const unsigned char> bytes) override {
    failIfInterrupted();
    done_ += bytes.size();
    progress_.update(done_);
    next_->write(bytes);
  }
  void finish() override { next_->finish(); }
  std::string writingPath() const override { return next_->writingPath(); }

 private:
  std::unique_ptr<ByteSink> next_;
  Progress& progress_;
  uint64_t done_ = 0;
};

uint64_t treeSize(const std::string& root) {
  static uint64_t total;
  total = 0;
  nftw(
      root.c_str(),
      [](const char*, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_F) total += static_cast<uint64_t>(st->st_size);
        return 0;
      },
      16, 0);
  return total;
}

struct Made {
  std::string path;
  ArchiveStats stats;
};

// An LZMA-compressed archive of root (plus the extra files) in out.
Made makeArchive(const std::string& what, const std::string& root, const std::string& out, uint32_t preset,
                 std::vector<ExtraFile> extra, Signer* signer, const std::string& skip = {}) {
  ArchiveOptions options;
  options.signer = signer;
  options.extraFiles = std::move(extra);
  Progress progress("compressing the " + what, isatty(STDERR_FILENO) == 1 ? treeSize(root) : 0);
  auto lzma = std::make_unique<LzmaSink>(std::make_unique<FileSink>(out), preset);
  CountingSink sink(std::move(lzma), progress);
  return {out, writeArchive(root, sink, options, skip)};
}

struct Jre {
  std::string image;    // its folder
  std::string version;  // 11 digits
  std::string how;      // for the summary
};

Jre readyJre(const std::string& folder, const std::optional<std::string>& givenVersion, const std::string& how) {
  if (access((folder + "/bin/java").c_str(), X_OK) != 0) {
    fail(folder + " is not a runtime image: it has no bin/java (make one with jlink)");
  }
  Jre jre{folder, givenVersion.value_or(""), how};
  if (jre.version.empty()) {
    const std::optional<JavaVersion> v = releaseVersion(folder);
    const std::optional<std::string> number = v ? versionNumber(*v) : std::nullopt;
    if (!number) fail(folder + "/release tells no Java version (JAVA_VERSION); give --jre-version");
    jre.version = *number;
  }
  return jre;
}

Jre jlinkJre(const Options& o, const TempFolder& work, const ClassPath& cp, const std::string& updaterJar) {
  const Jdk jdk = findJdk();
  std::string modules;
  if (o.addModules) {
    modules = *o.addModules;
  } else {
    std::vector<std::string> jars = cp.jars;
    if (!updaterJar.empty()) jars.push_back(updaterJar);
    modules = moduleDeps(jdk, jars);
  }
  const std::string image = work / "jre";
  jlinkImage(jdk, modules, image);
  return readyJre(image, o.jreVersion, "made by jlink from " + jdk.home + ": " + modules);
}

// The file itself is written under a temporary name and checked there, so
// a file that fails its check never appears.
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
  // Only what needs attention: the ok lines would drown it.
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

uint64_t sizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
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

int runApp(const std::vector<std::string>& argv) {
  const Options o = parse(argv);
  if (!isFolder(o.input)) fail(o.input + " is not a folder");
  const std::size_t slash = o.output.rfind('/');
  const std::string outputFolder = slash == std::string::npos ? "." : slash == 0 ? "/" : o.output.substr(0, slash);
  if (!isFolder(outputFolder)) fail("cannot write " + o.output + ": " + outputFolder + " is not a folder");

  // Everything that can be refused is refused before the long steps.
  std::optional<Bytes> privateKey;
  std::string publicKey;
  if (o.signingKey) {
    privateKey = readWholeFile(*o.signingKey);
    try {
      publicKey = publicKeyHexOf(*privateKey);
    } catch (const Failure& e) {
      fail("--sign " + *o.signingKey + ": " + e.message + " (give the private key file from 'velmoran-pack keygen')");
    }
  }
  const ClassPath cp = resolveClassPath(o);
  const std::string splash = o.splash ? *o.splash : bundledData("splash.png", "--splash");
  {
    const Bytes png = readWholeFile(splash);
    static constexpr unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (png.size() < sizeof kPng || !std::equal(kPng, kPng + sizeof kPng, png.begin())) {
      fail(splash + " is not a PNG image");
    }
  }
  LauncherContents c;
  c.stub = o.stub ? *o.stub : bundledProgram("velmoran-launcher", "--stub");
  c.lzma64 = o.lzma64 ? *o.lzma64 : bundledProgram("lzma64", "--lzma64");
  c.splash = splash;
  TailHeader& h = c.header;
  h.appName = o.name;
  h.appVersion = o.appVersion;
  h.guVersion = o.updaterVersion.value_or(o.appVersion);
  h.minSplashMs = "0";
  h.signaturePublicKey = publicKey;
  h.canOverrideSplash = "0";
  h.installType = o.installType;
  h.requiredJavaVersion = o.javaVersion;
  h.updateUrl = o.updateUrl;
  for (const TailHeaderField& field : kTailHeaderFields) {
    checkFieldFits(std::string("header field '") + field.name + "'", h.*field.member, field.size);
  }
  c.params.emplace_back("jre_name", o.jreName);
  c.params.insert(c.params.end(), o.params.begin(), o.params.end());
  buildParamsArea(c.params);
  if (isFile(o.input + "/" + kLaunchFileName)) {
    fail(o.input + " holds a " + kLaunchFileName + "; app writes the application's own, so remove it");
  }
  const std::string updaterJar = o.updaterArchive ? "" : bundledData(kUpdaterJar, "--updater-archive");
  if (o.updaterArchive && !isFile(*o.updaterArchive)) fail("cannot read " + *o.updaterArchive);
  if (o.jre != "jlink" && o.jre != "none") readyJre(o.jre, o.jreVersion, "");
  if (o.publishJre) readyJre(*o.publishJre, o.jreVersion, "");
  if (o.jre == "none" && o.updateUrl.rfind(kPlaceholderUpdateUrl, 0) == 0) {
    std::fprintf(stderr, "note: --jre none without --update-url: only a system JRE with unpack200 (Java 13 or "
                         "older) can run this file\n");
  }

  // Made after the handlers, so it is removed before they go.
  const InterruptibleSteps steps;
  const TempFolder work("velmoran-app");
  std::optional<KeySigner> signer;
  const auto sign = [&]() -> Signer* {
    if (!privateKey) return nullptr;
    return &signer.emplace(*privateKey, KeySigner::Salt::kDerived);
  };

  // The JRE: in the file, to publish, or neither.
  std::optional<Jre> jre;
  if (o.jre == "jlink") {
    jre = jlinkJre(o, work, cp, updaterJar);
  } else if (o.jre != "none") {
    jre = readyJre(o.jre, o.jreVersion, "the runtime image " + o.jre);
  } else if (o.publish) {
    jre = o.publishJre ? readyJre(*o.publishJre, o.jreVersion, "the runtime image " + *o.publishJre)
                       : jlinkJre(o, work, cp, updaterJar);
  }
  std::optional<Made> jreArchive;
  if (jre) jreArchive = makeArchive("JRE", jre->image, work / "jre.p2.l2", o.compress, {}, sign());

  // The updater: its jar and launch file, or the archive given.
  if (o.updaterArchive) {
    c.updaterArchive = *o.updaterArchive;
  } else {
    const std::string tree = work / "updater";
    if (mkdir(tree.c_str(), 0755) != 0) fail("cannot make " + tree + ": " + std::strerror(errno));
    writeWholeFile(tree + "/" + kUpdaterJar, readWholeFile(updaterJar));
    LaunchFile launch;
    launch.mainClass = kUpdaterClass;
    // The updater runs as a copy of java under the application's name.
    launch.appName = o.name;
    launch.jvmMem = kUpdaterMaxHeap;
    launch.classpath = {kUpdaterJar};
    launch.compatibilityClass = kUpdaterCompatibilityClass;
    c.updaterArchive = makeArchive("updater", tree, work / "updater.p2.l2", o.compress,
                                   {{std::string(kLaunchFileName), writeLaunchFile(launch)}}, sign()).path;
  }

  // The application: the input folder and its launch file.
  LaunchFile launch;
  launch.mainClass = o.mainClass;
  launch.appName = o.name;
  launch.jvmMem = o.maxHeap;
  launch.jvmStack = o.initialHeap;
  launch.classpath = cp.entries;
  launch.extraArgs = o.args;
  const Made app = makeArchive("application", o.input, work / "app.p2.l2", o.compress,
                               {{std::string(kLaunchFileName), writeLaunchFile(launch)}}, sign(), o.output);

  c.jreName = o.jreName;
  c.appArchive = app.path;
  if (jre && o.jre != "none") {
    h.jreVersion = jre->version;
    c.jreArchive = jreArchive->path;
  }
  const LauncherFile file = buildLauncherFile(c);

  AtomicOutput out(o.output, 0755);
  const CheckCounts checked = writeChecked(out, file.bytes);
  std::vector<std::unique_ptr<AtomicOutput>> published;
  std::string publishedNames;
  if (o.publish) {
    if (!isFolder(*o.publish) && mkdir(o.publish->c_str(), 0755) != 0) {
      fail("cannot make the folder " + *o.publish + ": " + std::strerror(errno));
    }
    const std::string versionName = "Velmoran-" + o.jreName + "-version.txt";
    const std::string archiveName = "Velmoran-" + o.jreName + "-" + jre->version + "-archive.p2.l2";
    const std::string versionText = jre->version + "\n";
    published.push_back(std::make_unique<AtomicOutput>(*o.publish + "/" + versionName));
    published.back()->write(Bytes(versionText.begin(), versionText.end()));
    published.push_back(std::make_unique<AtomicOutput>(*o.publish + "/" + archiveName));
    published.back()->write(readWholeFile(jreArchive->path));
    publishedNames = versionName + " and " + archiveName;
  }
  out.commit();
  for (auto& p : published) p->commit();

  const std::string master = (o.installType == "perm_all" ? "/opt" : "~/.Velmoran") + std::string("/Velmoran-") + o.name;
  const std::string run = o.output.find('/') == std::string::npos ? "./" + o.output : o.output;
  std::printf("Wrote %s: %s, passes check (%d warnings)\n", o.output.c_str(), mib(file.bytes.size()).c_str(),
              checked.warnings);
  std::printf("  application %s %s: main class %s, class path %s (%s)\n", o.name.c_str(), o.appVersion.c_str(),
              o.mainClass.c_str(), classPathText(cp.entries).c_str(), mib(sizeOf(app.path)).c_str());
  std::printf("  updater %s: %s (%s)\n", h.guVersion.c_str(),
              o.updaterArchive ? o.updaterArchive->c_str() : "the minimal one, starting the newest installed version",
              mib(sizeOf(c.updaterArchive)).c_str());
  if (!h.jreVersion.empty()) {
    std::printf("  JRE %s %s: %s (%s)\n", o.jreName.c_str(), h.jreVersion.c_str(), jre->how.c_str(),
                mib(sizeOf(c.jreArchive)).c_str());
  } else {
    std::printf("  no JRE: a system JRE with unpack200, or %s\n",
                o.updateUrl.rfind(kPlaceholderUpdateUrl, 0) == 0 ? "none (no --update-url to download one from)"
                                                                 : ("downloaded from " + o.updateUrl).c_str());
  }
  std::printf("  %s\n", privateKey ? "every archive signed, the public key embedded" : "not signed");
  if (o.publish) std::printf("  published in %s: %s\n", o.publish->c_str(), publishedNames.c_str());
  std::printf("Run it: %s   (its first run installs into %s)\n", run.c_str(), master.c_str());
  return 0;
}

}  // namespace

constinit const Command kAppCommand{
    "app", "make a complete, checked launcher file from a folder of jars", kHelp, runApp};

}  // namespace velmoran::pack
