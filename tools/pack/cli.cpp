#include "cli.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmoran::pack {

void fail(const std::string& message) { throw Failure{{message, kExitFailure}}; }

void usage(const std::string& message) { throw UsageError{{message, kExitUsage}}; }

bool Args::option(std::string_view name) {
  if (done()) return false;
  const std::string& arg = args_[i_];
  if (arg == name) {
    if (i_ + 1 >= args_.size()) usage("option " + std::string(name) + " needs a value");
    value_ = args_[i_ + 1];
    i_ += 2;
    return true;
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
    value_ = arg.substr(name.size() + 1);
    ++i_;
    return true;
  }
  return false;
}

bool Args::flag(std::string_view name) {
  if (done() || args_[i_] != name) return false;
  ++i_;
  return true;
}

std::string Args::positional() {
  const std::string& arg = args_[i_];
  if (arg.size() > 1 && arg[0] == '-') usage("unknown option '" + arg + "' (try --help)");
  ++i_;
  return arg;
}

// Through stdio, whose read errors (a folder given as a file) come back as
// ferror: the stream iterators threw them past the commands' error handling.
std::vector<unsigned char> readWholeFile(const std::string& path) {
  const FilePtr in = openFile(path.c_str(), "rb");
  if (!in) fail("cannot read " + path + ": " + std::strerror(errno));
  std::vector<unsigned char> bytes;
  unsigned char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  if (std::ferror(in.get())) fail("cannot read " + path + ": " + std::strerror(errno));
  return bytes;
}

namespace {

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AtomicOutput::AtomicOutput(const std::string& path, mode_t mode, bool replace)
    : path_(path), target_(path), replace_(replace) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) fail("cannot write " + path + ": it is a folder");
    if (!S_ISREG(st.st_mode)) {
      if (!replace) fail(path + " exists");
      file_ = openFile(path.c_str(), "wb");
      if (!file_) fail("cannot write " + path + ": " + std::strerror(errno));
      return;
    }
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char* resolved = realpath(path.c_str(), nullptr);
      if (resolved == nullptr) fail("cannot follow the link " + path + ": " + std::strerror(errno));
      target_ = resolved;
      std::free(resolved);
    }
  }
  const std::string folder = folderOf(target_);
  std::string name = target_.substr(target_.rfind('/') + 1);
  // A hidden name that tells where it comes from, should a killed run leave it.
  std::string pattern = (folder == "/" ? "" : folder) + "/." + name.substr(0, 200) + ".XXXXXX";
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) fail("cannot write " + path + ": " + std::strerror(errno));
  temp_ = pattern;
  // A constructor that throws runs no destructor: abandon removes the file.
  file_.reset(fdopen(fd, "wb"));
  if (!file_) {
    close(fd);
    abandon("cannot write " + path + ": " + std::strerror(errno));
  }
  if (fchmod(fd, mode) != 0) abandon("cannot set the mode of " + path + ": " + std::strerror(errno));
}

AtomicOutput::~AtomicOutput() {
  file_.reset();
  if (!committed_ && !temp_.empty()) unlink(temp_.c_str());
}

void AtomicOutput::write(std::span<const unsigned char> bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) {
    fail("cannot write " + path_ + ": " + std::strerror(errno));
  }
}

void AtomicOutput::commit() {
  FILE* f = file_.get();
  // A file that is not renamed into place (a device) has nothing to sync.
  const bool written = std::fflush(f) == 0 && !std::ferror(f) && (temp_.empty() || fsync(fileno(f)) == 0);
  const int savedErrno = errno;
  const bool closed = std::fclose(file_.release()) == 0;
  if (!written || !closed) abandon("cannot write " + path_ + ": " + std::strerror(written ? errno : savedErrno));
  if (!temp_.empty()) {
    if (replace_) {
      if (rename(temp_.c_str(), target_.c_str()) != 0) abandon("cannot write " + path_ + ": " + std::strerror(errno));
    } else {
      // link fails where rename would replace whatever has appeared at the path.
      if (link(temp_.c_str(), target_.c_str()) != 0) {
        abandon(errno == EEXIST ? path_ + " exists" : "cannot write " + path_ + ": " + std::strerror(errno));
      }
      unlink(temp_.c_str());
    }
  }
  committed_ = true;
}

void AtomicOutput::abandon(const std::string& message) {
  file_.reset();
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
  fail(message);
}

TempFolder::TempFolder(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a temporary folder in " + pattern + ": " + std::strerror(errno));
  path_ = pattern;
}

TempFolder::~TempFolder() {
  // Depth first, links not followed: only what lies in the folder goes.
  nftw(
      path_.c_str(),
      [](const char* path, const struct stat*, int, struct FTW*) {
        std::remove(path);
        return 0;
      }, 16,
      FTW_DEPTH | FTW_PHYS);
}

void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes, mode_t mode) {
  AtomicOutput out(path, mode);
  out.write(bytes);
  out.commit();
}

bool wantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

}  // namespace velmoran::pack
