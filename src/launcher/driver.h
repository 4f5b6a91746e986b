// The tail driver: carries one run from the first read of the launcher's own
// file to the hand-over. It never returns.
#pragma once

#include <string>
#include <vector>

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
  FilePtr tailStream;  // positioned at the next tail entry
};

[[noreturn]] void extractWrapperTail(const char* launcherPath, int userArgc, char** userArgv,
                                     int fullArgc, char** fullArgv, bool prepareOnly);

// Header evaluation up to the static properties: logs what the header says,
// settles the no-UI flag and records the tail's values for the Java side.
void evaluateHeader(TailRun& run);

}  // namespace velmoran
