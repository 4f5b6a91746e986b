#include "launch/jre.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/fileops.h"
#include "platform/spawner.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

// Double quotes keep blanks together; these four are still special inside them.
std::string shellDoubleQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

long long leadingNumber(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace

std::string getJavaExecutable(const std::string& jreFolder) {
  const std::string java = setPath(jreFolder, "bin", "java");
  if (setFileMode(java, installMode()) != 0) logError("Error setting java to executable!\n");
  return java;
}

std::string getUnpack200Executable(const std::string& jreFolder) {
  logConsole("[Locating UP200] %s\n", jreFolder.c_str());
  const std::string bin = setPath(jreFolder, "bin");
  logConsole("[Locating UP200] %s\n", bin.c_str());
  const std::string unpack200 = setPath(bin, "unpack200");
  if (setFileMode(unpack200, installMode()) != 0) logError("Error setting unpack200 to executable!\n");
  logConsole("[Locating UP200] Result is %s\n", unpack200.c_str());
  return unpack200;
}

std::string parseJavaVersionBanner(const std::string& banner) {
  // Standard error is read too, so a "Picked up _JAVA_OPTIONS: ..." line with
  // quotes of its own can come first: the version is the first quoted text
  // after the banner's `version "`.
  constexpr std::string_view kVersionQuote = "version \"";
  const auto anchor = banner.find(kVersionQuote);
  if (anchor == std::string::npos) return "0";
  const auto open = anchor + kVersionQuote.size() - 1;
  const auto close = banner.find('"', open + 1);
  const std::string quoted = banner.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  // Up to Java 8 the feature version is the second component (1.8.0_292);
  // from 9 on it is the first (11.0.2, 17).
  std::string rest = quoted;
  if (rest.rfind("1.", 0) == 0) rest = rest.substr(2);
  const std::string feature = rest.substr(0, rest.find('.'));
  return feature.empty() ? "0" : feature;
}

std::string getJavaVersion(const std::string& java) {
  // Every JRE prints its banner on standard error.
  const auto output = runCommandGetOutput(shellDoubleQuoted(java) + " -version 2>&1");
  if (!output) return "0";
  return parseJavaVersionBanner(*output);
}

bool jreMatchesVersionRequirement(const std::string& java, const std::optional<std::string>& required) {
  const std::string version = getJavaVersion(java);
  if (!required) {
    logMessage("[Extractor] Versions for JREs could not be detected (%d,%d)\n", 0, 1);
    return false;
  }
  logMessage("[Extractor] Checking JRE version requirements: %s vs required %s\n", version.c_str(),
             required->c_str());
  return leadingNumber(version) >= leadingNumber(*required);
}

bool hasJavaExecutable(const std::string& jreFolder) {
  struct stat info {};
  return lstat(setPath(jreFolder, "bin", "java").c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void overrideCACerts(const std::string& replacement, const std::string& jreFolder) {
  if (!doesFileExist(replacement)) return;
  const std::string target = setPath(jreFolder, "lib", "security/cacerts");
  logMessage("[Extractor] CACerts path %s exists\n", replacement.c_str());
  logMessage("[Extractor] TargetCACerts path is %s\n", target.c_str());
  // lstat, not access: a store that is a dangling link (a system JRE's store
  // points into /etc) must be removed too, or the copy would create its target.
  struct stat st;
  if (lstat(target.c_str(), &st) == 0) {
    logMessage("[Extractor] Removing old cacerts file\n");
    const int result = std::remove(target.c_str());
    logMessage("[Extractor] Result = %d\n", result);
  }
  copyFile(replacement, target);
}

}  // namespace velmoran
