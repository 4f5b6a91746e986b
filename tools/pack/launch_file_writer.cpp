#include "launch_file_writer.h"

#include "cli.h"

namespace velmoran::pack {
namespace {

std::string quoted(const std::string& text) { return "'" + text.substr(0, 40) + (text.size() > 40 ? "...'" : "'"); }

void appendText(Bytes& out, const char* label, const std::string& text) {
  checkFieldLength(std::string(label) + " " + quoted(text), text, kLaunchTextMaxLength);
  appendField(out, text);
}

void appendNumber(Bytes& out, const char* label, int64_t number) {
  const std::string text = std::to_string(number);
  checkFieldLength(label, text, kLaunchNumberMaxLength);
  appendField(out, text);
}

void appendList(Bytes& out, const char* countLabel, const char* entryLabel, const std::vector<std::string>& entries) {
  appendNumber(out, countLabel, static_cast<int64_t>(entries.size()));
  for (const std::string& entry : entries) appendText(out, entryLabel, entry);
}

// JVM options go before the main class on the java command line.
void checkJvmOptions(const char* label, const std::vector<std::string>& options) {
  for (const std::string& option : options) {
    if (option.empty() || option[0] != '-') {
      usage(std::string(label) + " " + quoted(option) + " is not a JVM option (it must start with '-')");
    }
  }
}

void checkHeld(const LaunchFile& f, bool given, int64_t since, const char* what) {
  if (!given || f.version >= since) return;
  usage(std::string(what) + " needs launch file version " + std::to_string(since) + " or later; this one is version " +
       std::to_string(f.version));
}

void checkLaunchFile(const LaunchFile& f) {
  if (f.version < kLaunchFileFirstVersion || f.version > kLaunchFileLatestVersion) {
    usage("the launch file version must be " + std::to_string(kLaunchFileFirstVersion) + " to " +
         std::to_string(kLaunchFileLatestVersion) + "; got " + std::to_string(f.version));
  }
  if (f.mainClass.empty()) usage("the launch file needs a main class");
  if (!isAppBinaryName(f.appName)) {
    usage("the App Name " + quoted(f.appName) + " must be a plain file name (the app binary beside java)");
  }
  if (f.jvmMem < 0 || f.jvmStack < 0) usage("a heap size cannot be negative");
  if (f.jvmMem > 0 && f.jvmStack > f.jvmMem) {
    usage("the initial heap (" + std::to_string(f.jvmStack) + " MB) is larger than the maximum heap (" +
         std::to_string(f.jvmMem) + " MB); java would not start");
  }
  for (const std::string& entry : f.classpath) {
    if (entry.find(':') != std::string::npos) {
      usage("the class path entry " + quoted(entry) + " contains ':', which separates the entries");
    }
  }
  checkJvmOptions(kLaunchAppJvmOptionEntryLabel, f.appJvmOptions);
  checkHeld(f, !f.compatibilityClass.empty(), kVersionWithCompatibilityClass, "a JRE compatibility class");
  checkHeld(f, !f.postInstallClass.empty() || !f.preUninstallClass.empty(), kVersionWithInstallClasses,
            "a post-install or pre-uninstall class");
  checkHeld(f, !f.appJvmOptions.empty(), kVersionWithAppJvmOptions, "an application JVM option");
  checkHeld(f, f.mustFork, kVersionWithMustFork, "Must Fork");
}

}  // namespace

Bytes writeLaunchFile(const LaunchFile& f) {
  checkLaunchFile(f);
  Bytes out;
  appendNumber(out, kLaunchVersionLabel, f.version);
  appendText(out, kLaunchClassLabel, f.mainClass);
  appendText(out, kLaunchClassOnUpdateLabel, f.classOnUpdate);
  appendText(out, kLaunchAppNameLabel, f.appName);
  appendText(out, kLaunchOsIcnsLabel, f.osIcns);
  appendNumber(out, kLaunchUrlRequiredLabel, f.urlRequired ? 1 : 0);
  appendNumber(out, kLaunchJvmMemLabel, f.jvmMem);
  appendNumber(out, kLaunchJvmStackLabel, f.jvmStack);
  appendList(out, kLaunchClasspathCountLabel, kLaunchClasspathEntryLabel, f.classpath);
  appendList(out, kLaunchExtraArgsCountLabel, kLaunchExtraArgsEntryLabel, f.extraArgs);
  if (f.version >= kVersionWithCompatibilityClass) {
    appendText(out, kLaunchCompatibilityClassLabel, f.compatibilityClass);
  }
  if (f.version >= kVersionWithInstallClasses) {
    appendText(out, kLaunchPostInstallClassLabel, f.postInstallClass);
    appendText(out, kLaunchPreUninstallClassLabel, f.preUninstallClass);
  }
  if (f.version >= kVersionWithAppJvmOptions) {
    appendList(out, kLaunchAppJvmOptionCountLabel, kLaunchAppJvmOptionEntryLabel, f.appJvmOptions);
  }
  if (f.version >= kVersionWithMustFork) appendNumber(out, kLaunchMustForkLabel, f.mustFork ? 1 : 0);
  return out;
}

Bytes writeLsoFile(const LsoFile& file) {
  checkJvmOptions(kLsoEntryLabel, file.options);
  Bytes out;
  appendList(out, kLsoCountLabel, kLsoEntryLabel, file.options);
  return out;
}

}  // namespace velmoran::pack
