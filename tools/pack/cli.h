// Command-line plumbing shared by the velmoran-pack commands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran::pack {

// Thrown by a command for a clear one-line error; main prints it and exits 1.
struct UsageError {
  std::string message;
};

[[noreturn]] void fail(const std::string& message);

struct Command {
  int order;  // position in the --help list
  const char* name;
  const char* summary;
  const char* help;  // full --help text
  int (*run)(const std::vector<std::string>& args);
};

// Every command, in the order --help lists them. Each command's file adds
// itself with a static CommandRegistration.
const std::vector<Command>& commands();

struct CommandRegistration {
  explicit CommandRegistration(const Command& command);
};

// Simple option walker: options are "--name value", "--name=value" or flags.
class Args {
 public:
  explicit Args(const std::vector<std::string>& args) : args_(args) {}
  bool done() const { return i_ >= args_.size(); }
  const std::string& peek() const { return args_[i_]; }
  // True (and consumes it) when the next argument is the option; value() then holds its value.
  bool option(std::string_view name);
  bool flag(std::string_view name);
  const std::string& value() const { return value_; }
  std::string positional();
  // The next argument as it is, even one that starts with "-".
  std::string next() { return args_[i_++]; }

 private:
  const std::vector<std::string>& args_;
  std::size_t i_ = 0;
  std::string value_;
};

// Sends standard output to /dev/null while it lives: the project's readers,
// decoders and logger print warnings there that the commands report in their
// own words. savedFd() is the real standard output.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;
  int savedFd() const { return saved_; }

 private:
  int saved_ = -1;
};

std::vector<unsigned char> readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);
bool wantsHelp(const std::vector<std::string>& args);

}  // namespace velmoran::pack
