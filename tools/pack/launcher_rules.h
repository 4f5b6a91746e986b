// The settings of one launcher file and the one set of rules they answer
// to. app and launcher make a spec from their options and refuse what the
// rules find; check makes one from what a file holds and reports it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/signature.h"
#include "format/tail.h"
#include "format/tail_plan.h"

namespace velmoran::pack {

struct LauncherSpec {
  TailHeader header;
  // The JRE's component name: its archive and its folders are named after
  // it, and the jre_name parameter hands it to the launcher. None when no
  // name was given.
  std::optional<std::string> jreName;
  std::vector<Param> params;  // in file order
  // What the tail's entries are made of, by role: the builder's files. The
  // version files are written from the header, and the CA store may be left
  // out (an empty entry: the JRE keeps its own).
  std::map<TailEntryRole, std::string> files;
};

// One rule a spec breaks, worded for both sides.
struct SpecFault {
  std::string refusal;  // what the commands say when they refuse it
  bool usage;           // refused as a value typed wrong (exit 2) rather than a failure (exit 1)
  std::string finding;  // what check reports: "header: ...", "params: ..."
  bool error;           // the launcher fails on it or misreads it (check: an error), or reads a default (a warning)
};

// Every rule the spec breaks: the header's, the JRE name's, the files', the
// parameters'.
std::vector<SpecFault> specFaults(const LauncherSpec& spec);

// The rules of the Params section alone, which a restamped file answers to
// as well. A jre_name pair that gives jreName is left to the JRE name's rule.
std::vector<SpecFault> paramsFaults(const std::vector<Param>& params,
                                    const std::optional<std::string>& jreName = std::nullopt);

// Refuses (usage error or failure) with the first fault; none passes.
void refuseFaults(const std::vector<SpecFault>& faults);

// The JRE name the launcher takes from the parameters: the last jre_name.
std::optional<std::string> jreNameOf(const std::vector<Param>& params);

// The tail's entries this spec makes, in file order.
std::vector<TailEntry> planOf(const LauncherSpec& spec);

// The header's public key as the launcher imports it: none for an empty
// text, one that is not hex, or one that is not an RSA key. A private key
// imports too (the rules refuse it).
RsaKeyPtr importHeaderKey(const std::string& hex);

}  // namespace velmoran::pack
