#include "cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "util/file.h"

namespace velmoran::pack {

void fail(const std::string& message) { throw UsageError{message}; }

namespace {
std::vector<Command>& registry() {
  static std::vector<Command> all;
  return all;
}
}  // namespace

const std::vector<Command>& commands() { return registry(); }

CommandRegistration::CommandRegistration(const Command& command) {
  auto& all = registry();
  auto at = all.begin();
  while (at != all.end() && at->order < command.order) ++at;
  all.insert(at, command);
}

bool Args::option(std::string_view name) {
  if (done()) return false;
  const std::string& arg = args_[i_];
  if (arg == name) {
    if (i_ + 1 >= args_.size()) fail("option " + std::string(name) + " needs a value");
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
  if (arg.size() > 1 && arg[0] == '-') fail("unknown option " + arg);
  ++i_;
  return arg;
}

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  const UniqueFd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
  UniqueFd saved(fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
  if (!null || !saved || dup2(null.get(), STDOUT_FILENO) < 0) fail("cannot redirect standard output");
  saved_ = saved.release();
}

QuietStdout::~QuietStdout() {
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
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

void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) fail("cannot write " + path + ": " + std::strerror(errno));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) fail("cannot write " + path + ": " + std::strerror(errno));
}

bool wantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

}  // namespace velmoran::pack
