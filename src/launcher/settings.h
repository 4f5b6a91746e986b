// The settings of a run: what the tail header and the dynamic parameters
// say, evaluated once, with the folders they lead to. Read-only afterwards.
#pragma once

#include <optional>
#include <string>

#include "archive/signature.h"
#include "format/install_type.h"
#include "format/tail.h"
#include "launch/properties.h"
#include "launcher/dynamic_params.h"
#include "launcher/entry.h"
#include "util/status.h"

namespace velmoran {

struct RunSettings {
  TailHeader header;
  DynamicParams params;
  PropertiesBlock properties;  // the dynamic properties, then the tail's values
  bool noUi = false;           // show_no_ui, or the silent parameter on the command line
  // The Update URL field, or the update_url parameter when the field is "D";
  // ends with "/" once normalised.
  std::string chosenUpdateUrl;
  // What the launch is handed: the Update URL field (normalised when it was
  // the chosen one) and the update_url parameter (normalised when chosen).
  std::string staticUpdateUrl;
  std::optional<std::string> dynamicUpdateUrl;
  RsaKeyPtr key;  // the header's public key; none without one
  InstallType installType = InstallType::PermUser;
  std::string sharedDir;
  std::string masterFolder;
  std::string jreName;  // from jre_name, then the override file
  bool hasGu = false;   // the tail carries the updater: it is more than a launcher
};

// Header evaluation: logs what the header says, settles the no-UI flag,
// records the tail's values for the Java side, imports the key, and finds the
// shared directory and the master folder, where the log file is opened. A
// name or version that would lead out of the master folder, or a user without
// a home directory, is a failure.
Result<RunSettings> settleRun(const Invocation& invocation, TailHeader header, DynamicParams params,
                              PropertiesBlock properties);

}  // namespace velmoran
