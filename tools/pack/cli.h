// Command-line plumbing shared by the velmoran-pack commands.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/file.h"

namespace velmoran::pack {

// Exit statuses: what the user typed wrong, and everything else that went wrong.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Thrown by a command for a clear one-line error; main prints it as
// "velmoran-pack COMMAND: message" and exits with status.
struct CommandError {
  std::string message;
  int status;
};
struct UsageError : CommandError {};
struct Failure : CommandError {};

// A failure (exit 1): a file that cannot be read or written, an invalid key,
// a failed check.
[[noreturn]] void fail(const std::string& message);
// A usage error (exit 2): an unknown option or command, a missing required
// option, a malformed value.
[[noreturn]] void usage(const std::string& message);

struct Command {
  const char* name;
  const char* summary;
  const char* help;  // full --help text
  int (*run)(const std::vector<std::string>& args);
};

// Simple option walker: options are "--name value", "--name=value" or flags.
class Args {
 public:
  explicit Args(const std::vector<std::string>& args) : args_(args) {}
  bool done() const { return i_ >= args_.size(); }
  const std::string& peek() const { return args_[i_]; }
  // True (and consumes it) when the next argument is the option; value() then
  // holds its value. A missing value is a usage error.
  bool option(std::string_view name);
  bool flag(std::string_view name);
  const std::string& value() const { return value_; }
  // The next argument; one that starts with "-" is an unknown option (usage).
  std::string positional();
  // The next argument as it is, even one that starts with "-".
  std::string next() { return args_[i_++]; }

 private:
  const std::vector<std::string>& args_;
  std::size_t i_ = 0;
  std::string value_;
};

// An output file written under a temporary name in the same folder and
// renamed over path by commit(), so a failed run leaves neither a cut-off
// output nor the temporary file, and an existing file stays as it was. The
// file gets exactly mode. A link is followed (the file it names is replaced);
// an existing output that is not a regular file (/dev/null, a pipe) is
// written directly, as nothing can be renamed over it. With replace false,
// commit() refuses a path that exists by then.
class AtomicOutput {
 public:
  explicit AtomicOutput(const std::string& path, mode_t mode = 0644, bool replace = true);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  FILE* file() { return file_.get(); }
  void write(std::span<const unsigned char> bytes);
  // Flushes, syncs and renames; fails (exit 1) when any of it fails.
  void commit();
  // Where the bytes go until commit, the output itself when written directly.
  const std::string& writingPath() const { return temp_.empty() ? target_ : temp_; }

 private:
  // Removes the temporary file and fails with message.
  [[noreturn]] void abandon(const std::string& message);

  std::string path_;    // as given, for messages
  std::string target_;  // the file replaced: path_ with links followed
  std::string temp_;    // empty when written directly
  bool replace_;
  FilePtr file_;
  bool committed_ = false;
};

// A folder of its own under $TMPDIR (or /tmp) for the pieces a command
// makes on its way, removed with everything in it when the command ends,
// whether it succeeds or fails.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<unsigned char> readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes, mode_t mode = 0644);
bool wantsHelp(const std::vector<std::string>& args);

}  // namespace velmoran::pack
