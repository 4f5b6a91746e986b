#include "jdk.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli.h"
#include "progress.h"
#include "util/file.h"

extern char** environ;

namespace velmoran::pack {
namespace {

// What a tool may say before the rest is dropped.
constexpr std::size_t kMaxCaptured = 1 << 20;
// The release file of a runtime image is a few lines.
constexpr std::size_t kMaxReleaseFile = 64 * 1024;
// What a runtime image leaves out: a launcher file carries it to every user.
constexpr const char* kJlinkOptions[] = {"--strip-debug", "--no-header-files", "--no-man-pages"};

bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string firstLine(const std::string& text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  const std::size_t end = text.find_first_of("\r\n", start);
  return text.substr(start, std::min<std::size_t>(end == std::string::npos ? text.size() : end, start + 300) - start);
}

// The tool's own words for a failure: its first line of errors, else of output.
std::string whatItSaid(const ToolResult& r) {
  std::string line = firstLine(r.err);
  if (line.empty()) line = firstLine(r.out);
  const std::string status = r.status < 0 ? "killed by a signal" : "exit status " + std::to_string(r.status);
  return line.empty() ? status : status + ": " + line;
}

std::optional<Jdk> jdkAt(const std::string& home) {
  Jdk jdk{home};
  if (isExecutable(jdk.tool("jlink")) && isExecutable(jdk.tool("jdeps"))) return jdk;
  return std::nullopt;
}

std::optional<std::string> onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string rest = path == nullptr ? "" : path;
  while (true) {
    const std::size_t colon = rest.find(':');
    std::string dir = rest.substr(0, colon);
    if (dir.empty()) dir = ".";
    if (isExecutable(dir + "/" + name)) return dir + "/" + name;
    if (colon == std::string::npos) return std::nullopt;
    rest.erase(0, colon + 1);
  }
}

struct Pipe {
  UniqueFd read, write;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail(std::string("cannot make a pipe: ") + std::strerror(errno));
    read.reset(fds[0]);
    write.reset(fds[1]);
  }
};

}  // namespace

std::optional<JavaVersion> releaseVersion(const std::string& home) {
  const FilePtr in = openFile((home + "/release").c_str(), "rb");
  if (!in) return std::nullopt;
  std::string text(kMaxReleaseFile, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), in.get()));
  constexpr std::string_view key = "JAVA_VERSION=\"";
  std::size_t at = 0;
  while (at < text.size() && text.compare(at, key.size(), key) != 0) {
    at = text.find('\n', at);
    if (at == std::string::npos) return std::nullopt;
    ++at;
  }
  if (at >= text.size()) return std::nullopt;
  const std::size_t start = at + key.size();
  const std::size_t end = text.find('"', start);
  if (end == std::string::npos) return std::nullopt;
  // "17", "17.0.15" or "17.0.15.1": the first three parts count.
  long parts[3] = {0, 0, 0};
  int part = 0;
  std::size_t digits = 0;
  for (std::size_t i = start; i < end; ++i) {
    const char c = text[i];
    if (c == '.') {
      if (digits == 0) return std::nullopt;
      if (++part == 3) break;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 9) {
      parts[part] = parts[part] * 10 + (c - '0');
      ++digits;
    } else {
      return std::nullopt;
    }
  }
  if (part < 3 && digits == 0) return std::nullopt;
  return JavaVersion{parts[0], parts[1], parts[2]};
}

std::optional<std::string> versionNumber(const JavaVersion& v) {
  if (v.feature < 0 || v.interim < 0 || v.update < 0 || v.feature > 999 || v.interim > 999 || v.update > 999) {
    return std::nullopt;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%011ld", (v.feature * 1000 + v.interim) * 1000 + v.update);
  return std::string(text);
}

Jdk findJdk() {
  const char* javaHome = std::getenv("JAVA_HOME");
  if (javaHome != nullptr && *javaHome != '\0') {
    if (const auto jdk = jdkAt(javaHome)) return *jdk;
    fail(std::string("JAVA_HOME (") + javaHome + ") is no JDK with jlink and jdeps in its bin; point it at one, "
         "or give a runtime image with --jre DIR");
  }
  if (const auto javac = onPath("javac")) {
    char* resolved = realpath(javac->c_str(), nullptr);
    if (resolved != nullptr) {
      std::string home = resolved;
      std::free(resolved);
      // HOME/bin/javac
      home.resize(home.rfind('/'));
      home.resize(home.rfind('/'));
      if (const auto jdk = jdkAt(home)) return *jdk;
      fail("the javac on the PATH belongs to " + home + ", which has no jlink and jdeps; set JAVA_HOME to a JDK");
    }
  }
  fail("no JDK found to make the runtime image with: set JAVA_HOME or put javac on the PATH, or give --jre DIR");
}

ToolResult runTool(const std::vector<std::string>& argv, Progress* progress) {
  Pipe out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) fail("cannot run " + argv[0] + ": " + std::strerror(spawned));
  out.write.reset();
  err.write.reset();

  ToolResult result;
  struct Stream {
    UniqueFd& fd;
    std::string& text;
  } streams[] = {{out.read, result.out}, {err.read, result.err}};
  char buffer[65536];
  while (streams[0].fd || streams[1].fd) {
    pollfd fds[2];
    nfds_t n = 0;
    for (const Stream& s : streams) {
      if (s.fd) fds[n++] = {s.fd.get(), POLLIN, 0};
    }
    const int ready = poll(fds, n, 200);
    if (progress != nullptr) progress->update(0);
    if (interrupted()) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      failIfInterrupted();
    }
    if (ready < 0 && errno != EINTR) break;
    for (nfds_t i = 0; i < n && ready > 0; ++i) {
      if (fds[i].revents == 0) continue;
      for (Stream& s : streams) {
        if (!s.fd || s.fd.get() != fds[i].fd) continue;
        const ssize_t got = read(s.fd.get(), buffer, sizeof buffer);
        if (got > 0) {
          if (s.text.size() < kMaxCaptured) s.text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
          s.fd.reset();
        }
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) fail("cannot wait for " + argv[0] + ": " + std::strerror(errno));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool isModuleList(const std::string& text) {
  if (text.empty() || text.front() == ',' || text.back() == ',') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool name = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
    if (!name && !(c == ',' && text[i + 1] != ',')) return false;
  }
  return true;
}

std::string moduleDeps(const Jdk& jdk, const std::vector<std::string>& jars) {
  // Multi-release jars are read as the JDK's own Java version would run them.
  const std::optional<JavaVersion> version = releaseVersion(jdk.home);
  std::vector<std::string> argv = {jdk.tool("jdeps"), "--print-module-deps", "--ignore-missing-deps",
                                   "--multi-release", version ? std::to_string(version->feature) : "base"};
  argv.insert(argv.end(), jars.begin(), jars.end());
  const ToolResult r = runTool(argv);
  if (r.status != 0) fail("jdeps cannot tell which modules the jars need (" + whatItSaid(r) + "); give --add-modules");
  // The list is the last line; warnings may come before it.
  std::string text = r.out;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  const std::size_t lineStart = text.find_last_of('\n');
  if (lineStart != std::string::npos) text.erase(0, lineStart + 1);
  if (text.empty()) return "java.base";
  if (!isModuleList(text)) fail("jdeps printed no module list ('" + firstLine(text) + "'); give --add-modules");
  return text;
}

namespace {

std::vector<std::string>* elfFilesFound = nullptr;

int noteElfFile(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type != FTW_F || !S_ISREG(st->st_mode)) return 0;
  char magic[4] = {};
  const UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd && read(fd.get(), magic, sizeof magic) == sizeof magic && std::memcmp(magic, "\x7f" "ELF", 4) == 0) {
    elfFilesFound->push_back(path);
  }
  return 0;
}

// The JDK's libraries keep their symbol tables (4 MB of libjvm.so alone),
// which only a debugger reads; the dynamic symbols the JVM and JNI look up
// stay. Without binutils' strip the image keeps them, with a note.
void stripNativeSymbols(const std::string& image) {
  const std::optional<std::string> strip = onPath("strip");
  if (!strip) {
    std::fprintf(stderr, "note: no strip on the PATH (binutils): the runtime image keeps its symbol tables\n");
    return;
  }
  std::vector<std::string> files;
  elfFilesFound = &files;
  const int walked = nftw(image.c_str(), noteElfFile, 16, FTW_PHYS);
  elfFilesFound = nullptr;
  if (walked != 0) fail("cannot read the runtime image " + image + ": " + std::strerror(errno));
  std::vector<std::string> argv = {*strip, "--strip-unneeded"};
  argv.insert(argv.end(), files.begin(), files.end());
  const ToolResult r = runTool(argv);
  if (r.status != 0) fail("strip failed on the runtime image (" + whatItSaid(r) + ")");
}

}  // namespace

void jlinkImage(const Jdk& jdk, const std::string& modules, const std::string& output) {
  Progress progress("jlink: making the runtime image (" + modules + ")");
  std::vector<std::string> argv = {jdk.tool("jlink"), "--add-modules", modules};
  argv.insert(argv.end(), std::begin(kJlinkOptions), std::end(kJlinkOptions));
  argv.insert(argv.end(), {"--output", output});
  const ToolResult r = runTool(argv, &progress);
  if (r.status != 0) fail("jlink failed (" + whatItSaid(r) + ")");
  stripNativeSymbols(output);
}

std::string jdkIdentity(const Jdk& jdk) {
  char* resolved = realpath(jdk.home.c_str(), nullptr);
  std::string text = "jdk " + std::string(resolved != nullptr ? resolved : jdk.home.c_str()) + "\n";
  std::free(resolved);
  for (const std::string& file : {jdk.home + "/lib/modules", jdk.tool("jlink"), jdk.tool("jdeps")}) {
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) {
      text += file.substr(jdk.home.size()) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
              "." + std::to_string(st.st_mtim.tv_nsec) + "\n";
    }
  }
  if (const FilePtr in = openFile((jdk.home + "/release").c_str(), "rb")) {
    std::string release(kMaxReleaseFile, '\0');
    release.resize(std::fread(release.data(), 1, release.size(), in.get()));
    text += "release " + release + "\n";
  }
  return text;
}

std::string jlinkIdentity(const Jdk& jdk, const std::string& modules) {
  std::string text = jdkIdentity(jdk) + "modules " + modules + "\noptions";
  for (const char* option : kJlinkOptions) text += std::string(" ") + option;
  return text + (onPath("strip") ? "\nnative symbols stripped" : "\nnative symbols kept");
}

}  // namespace velmoran::pack
