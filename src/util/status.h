// How a step of a run ended. A failure carries the exit status the run ends
// with; its record is logged where it happened, so the status only travels
// up to the one place that ends the run (the launcher's driver).
#pragma once

#include <optional>
#include <utility>

namespace velmoran {

// The documented exit statuses of a failed run.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitPropertiesUnwritable = 99;
inline constexpr int kExitUnpack200Failed = 101;

class [[nodiscard]] Status {
 public:
  static Status success() { return Status(0); }
  // exitStatus is never 0: that is success.
  static Status failure(int exitStatus = kExitFailed) { return Status(exitStatus == 0 ? kExitFailed : exitStatus); }

  bool ok() const { return exitStatus_ == 0; }
  int exitStatus() const { return exitStatus_; }

 private:
  explicit Status(int exitStatus) : exitStatus_(exitStatus) {}
  int exitStatus_;
};

// A value, or the failure that stood in its way.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)), status_(Status::success()) {}  // NOLINT: implicit on purpose
  // A failure; a success without a value would be a slip, so it counts as one.
  Result(Status failure) : status_(failure.ok() ? Status::failure() : failure) {}  // NOLINT: implicit on purpose

  bool ok() const { return status_.ok(); }
  Status status() const { return status_; }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace velmoran
