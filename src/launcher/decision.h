// The install decision: from what the master folder holds and what the tail
// carries, whether the run hands over at once or installs first. A pure
// function; finding what is installed is apart from it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/tail.h"

namespace velmoran {

// The newest installed version folder of each component, by name; none when
// there is none.
struct InstalledVersions {
  std::optional<std::string> updater;
  std::optional<std::string> jre;
  std::optional<std::string> application;
};

// Looks up the newest version folders in the master folder (with their
// [PickFolder] records).
InstalledVersions findInstalled(const std::string& masterFolder, const std::string& jreName,
                                const std::string& appName);

enum class Action {
  JustRun,  // hand over to the newest installed updater
  Install,  // install what the tail carries first
};

struct Decision {
  Action action = Action::JustRun;
  // The records of the comparison, in order, for the driver to log; for
  // Install the last one is the reason.
  std::vector<std::string> records;
};

// What a run with this header does over what is installed. A tail without an
// updater is just a launcher: it runs what is installed, and can install
// nothing (the driver says so).
Decision decide(const TailHeader& header, const InstalledVersions& installed);

}  // namespace velmoran
