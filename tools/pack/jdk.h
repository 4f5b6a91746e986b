// The JDK's tools as app runs them: finding the JDK, the modules a set of
// jars needs (jdeps) and a runtime image of those modules (jlink).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmoran::pack {

class Progress;

struct JavaVersion {
  long feature = 0, interim = 0, update = 0;
};

// JAVA_VERSION in the release file of a JDK or runtime image, such as
// "17.0.15"; none when the file or the line is missing or malformed.
std::optional<JavaVersion> releaseVersion(const std::string& home);
// As an 11-digit version: feature, interim and update three digits each,
// 17.0.15 as 00017000015, so a newer runtime has a higher version.
// None when a part has more than three digits.
std::optional<std::string> versionNumber(const JavaVersion& version);

struct Jdk {
  std::string home;
  std::string tool(const std::string& name) const { return home + "/bin/" + name; }
};

// The JDK of JAVA_HOME, or else of the javac found on the PATH (links
// followed). Fails, saying how to name one, when neither has jlink and jdeps.
Jdk findJdk();

struct ToolResult {
  int status = -1;  // the exit status; -1 when ended by a signal
  std::string out, err;
};

// Runs argv (an absolute path first) with standard input from /dev/null and
// both outputs captured; progress, if given, is redrawn while it runs.
ToolResult runTool(const std::vector<std::string>& argv, Progress* progress = nullptr);

// The modules the jars need, comma-separated as jlink takes them.
std::string moduleDeps(const Jdk& jdk, const std::vector<std::string>& jars);

// A runtime image of the modules in output (which must not exist yet),
// without debug information, header files, manual pages or the native
// libraries' symbol tables.
void jlinkImage(const Jdk& jdk, const std::string& modules, const std::string& output);

// What the JDK's tools give depends on, as text for a cache key: its folder
// with links resolved, its release file, the size and time of its module
// image and of jlink and jdeps.
std::string jdkIdentity(const Jdk& jdk);
// What the image jlinkImage makes of modules depends on: the JDK, the
// modules and the options.
std::string jlinkIdentity(const Jdk& jdk, const std::string& modules);

// Whether text is a module list jlink takes: names of letters, digits, "_"
// and ".", separated by single commas.
bool isModuleList(const std::string& text);

}  // namespace velmoran::pack
