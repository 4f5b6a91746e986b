#include "progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "cli.h"

namespace velmoran::pack {
namespace {

volatile std::sig_atomic_t signalled = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved[std::size(kSignals)];

}  // namespace

InterruptibleSteps::InterruptibleSteps() {
  struct sigaction action {};
  action.sa_handler = [](int) { signalled = 1; };
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &saved[i]);
}

InterruptibleSteps::~InterruptibleSteps() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &saved[i], nullptr);
}

bool interrupted() { return signalled != 0; }

void failIfInterrupted() {
  if (interrupted()) fail("interrupted; nothing was written");
}

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), shown_(isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()), drawn_(start_) {}

Progress::~Progress() {
  // Clears the line: what the step made is said once it is done.
  if (shown_) std::fprintf(stderr, "\r\033[K");
}

void Progress::update(uint64_t done) {
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - drawn_ < std::chrono::milliseconds(200)) return;
  drawn_ = now;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - start_).count();
  if (total_ > 0) {
    const uint64_t percent = done >= total_ ? 100 : done * 100 / total_;
    std::fprintf(stderr, "\r\033[K%s: %3llu%% (%lld s)", label_.c_str(), static_cast<unsigned long long>(percent),
                 static_cast<long long>(seconds));
  } else {
    std::fprintf(stderr, "\r\033[K%s: %lld s", label_.c_str(), static_cast<long long>(seconds));
  }
  std::fflush(stderr);
}

}  // namespace velmoran::pack
