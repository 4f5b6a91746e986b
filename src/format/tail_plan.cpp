#include "format/tail_plan.h"

#include <algorithm>
#include <iterator>

#include "format/names.h"

namespace velmoran {

std::vector<TailEntry> tailPlan(const TailHeader& h, const std::string& jreName) {
  if (h.guVersion.empty()) return {};
  std::vector<TailEntry> plan = {
      {TailEntryRole::Decompressor, TailComponent::Updater, kDecompressorName},
      {TailEntryRole::SplashImage, TailComponent::Updater, kSplashImageName},
      {TailEntryRole::CaStore, TailComponent::Updater, kCaStoreName},
      {TailEntryRole::UpdaterArchive, TailComponent::Updater, archiveFileName(kUpdaterComponent, h.guVersion)},
      {TailEntryRole::UpdaterVersion, TailComponent::Updater, versionFileName(kUpdaterComponent)},
  };
  if (!h.jreVersion.empty()) {
    plan.push_back({TailEntryRole::JreArchive, TailComponent::Jre, archiveFileName(jreName, h.jreVersion)});
  }
  if (!h.appVersion.empty()) {
    plan.push_back({TailEntryRole::AppArchive, TailComponent::Application, archiveFileName(h.appName, h.appVersion)});
    plan.push_back({TailEntryRole::AppVersion, TailComponent::Application, versionFileName(h.appName)});
  }
  return plan;
}

std::vector<TailEntry> entriesOf(const std::vector<TailEntry>& plan, TailComponent component) {
  std::vector<TailEntry> entries;
  std::copy_if(plan.begin(), plan.end(), std::back_inserter(entries),
               [component](const TailEntry& e) { return e.component == component; });
  return entries;
}

const char* describeRole(TailEntryRole role) {
  switch (role) {
    case TailEntryRole::Decompressor: return "the LZMA decompressor";
    case TailEntryRole::SplashImage: return "the splash image";
    case TailEntryRole::CaStore: return "the CA store";
    case TailEntryRole::UpdaterArchive: return "the updater's archive";
    case TailEntryRole::UpdaterVersion: return "the updater's version file";
    case TailEntryRole::JreArchive: return "the JRE's archive";
    case TailEntryRole::AppArchive: return "the application's archive";
    case TailEntryRole::AppVersion: return "the application's version file";
  }
  return "an entry";
}

}  // namespace velmoran
