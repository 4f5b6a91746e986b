// The tail driver: carries one run from the first read of the launcher's own
// file to the hand-over. It never returns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "launch/properties.h"
#include "launcher/dynamic_params.h"
#include "launcher/tail.h"
#include "util/file.h"

namespace velmoran {

// What one run holds from start to end.
struct TailRun {
  std::string launcherPath;   // as invoked; the file that is read
  std::string absolutePath;   // handed to the launch
  int userArgc = 0;
  char** userArgv = nullptr;
  int fullArgc = 0;
  char** fullArgv = nullptr;
  bool prepareOnly = false;

  std::vector<unsigned char> tailMarker;
  std::vector<unsigned char> paramsMarker;
  PropertiesBlock properties;
  DynamicParams params;
  TailHeader header;
  bool noUi = false;  // show_no_ui, or the silent parameter on the command line
  // The Update URL field, or the update_url parameter when the field is "D";
  // ends with "/" once normalised.
  std::string chosenUpdateUrl;
  // What the launch is handed: the Update URL field (normalised when it was
  // the chosen one) and the update_url parameter (normalised when chosen).
  std::string staticUpdateUrl;
  std::optional<std::string> dynamicUpdateUrl;
  RsaKeyPtr key;  // the header's public key; none without one
  std::string sharedDir;
  std::string masterFolder;
  std::string jreName;  // from jre_name, then the override file
  bool hasGu = false;   // the tail carries the updater: it is more than a launcher
  FilePtr tailStream;   // positioned at the next tail entry
  UniqueFd installTurn;  // the lock on the master folder while this run installs
};

[[noreturn]] void extractWrapperTail(const char* launcherPath, int userArgc, char** userArgv,
                                     int fullArgc, char** fullArgv, bool prepareOnly);

// Header evaluation: logs what the header says, settles the no-UI flag,
// records the tail's values for the Java side, imports the key, and finds the
// shared directory and the master folder, where the log file is opened.
void evaluateHeader(TailRun& run);

// Closes the tail stream and starts the updater of the version folder
// (prepare-only runs end here with 0); the run ends with 0.
[[noreturn]] void handOver(TailRun& run, const std::string& updaterFolder);

}  // namespace velmoran
