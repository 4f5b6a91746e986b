// Small operations on a JRE folder (the one holding bin/ and lib/): its
// executables, its version, and its CA store.
#pragma once

#include <optional>
#include <string>

namespace velmoran {

// JRE folder + bin/java, given mode 0777 (an error is logged if that fails).
std::string getJavaExecutable(const std::string& jreFolder);
// JRE folder + bin/unpack200, likewise.
std::string getUnpack200Executable(const std::string& jreFolder);

// The Java feature version that `java -version` reports: "8" for 1.8.0_292,
// "11" for 11.0.2, "17" for 17; "0" when the banner holds no quoted version.
std::string getJavaVersion(const std::string& java);
// The feature version read from a version banner, as getJavaVersion does.
std::string parseJavaVersionBanner(const std::string& banner);
// Whether the java's version is at least the required one (leading digits
// compared as integers; an empty requirement is met by every JRE).
bool jreMatchesVersionRequirement(const std::string& java, const std::optional<std::string>& required);

// True when the JRE folder holds a bin/java that is a file: what makes a
// folder a JRE at all.
bool hasJavaExecutable(const std::string& jreFolder);

// Replaces the JRE's lib/security/cacerts by the given file when that exists.
void overrideCACerts(const std::string& replacement, const std::string& jreFolder);

}  // namespace velmoran
