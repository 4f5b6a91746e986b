// The plan of a wrapper tail's entries: which entries a tail with a given
// header carries, in file order, their names and whose folder each goes
// into. Entries are not self-identifying, so the builder writes them, and
// the launcher, check and inspect read them, by this one plan.
#pragma once

#include <string>
#include <vector>

#include "format/tail.h"

namespace velmoran {

// Whose temporary folder an entry is extracted into.
enum class TailComponent { Updater, Jre, Application };

enum class TailEntryRole {
  Decompressor,    // lzma64, the program that decompresses a downloaded JRE
  SplashImage,     // nativesplash.png, shown while the launcher works
  CaStore,         // cacerts, the CA store a JRE gets; empty when none is shipped
  UpdaterArchive,  // the updater's LZMA-compressed archive
  UpdaterVersion,  // the updater's version file
  JreArchive,      // the JRE's LZMA-compressed archive
  AppArchive,      // the application's LZMA-compressed archive
  AppVersion,      // the application's version file
};

struct TailEntry {
  TailEntryRole role;
  TailComponent component;
  std::string name;  // the entry's path, as written
};

// The entries of a tail with this header: none without a GU Version (just a
// launcher); then the updater's five; the JRE's archive with a JRE Version
// (named after jreName, which the Params section gives, not the header);
// the application's archive and version file with an App Version.
std::vector<TailEntry> tailPlan(const TailHeader& header, const std::string& jreName);

// The plan's entries of one component, in file order.
std::vector<TailEntry> entriesOf(const std::vector<TailEntry>& plan, TailComponent component);

// "the decompressor", "the JRE's archive", ...: what an entry is, for messages.
const char* describeRole(TailEntryRole role);

}  // namespace velmoran
