#include "launcher_rules.h"

#include <algorithm>

#include "cli.h"
#include "format/install_type.h"
#include "format/names.h"
#include "format/version_file.h"
#include "tail_writer.h"
#include "util/encoding.h"

namespace velmoran::pack {
namespace {

// The longest version atol reads into a 64-bit number whole.
constexpr std::size_t kMaxVersionDigits = 18;

using Faults = std::vector<SpecFault>;

std::optional<std::string> refusedName(const std::string& what, const std::string& name) {
  const auto why = componentNameFault(name);
  if (!why) return std::nullopt;
  return what + " '" + name.substr(0, 60) + "' is refused: " + *why;
}

bool isHexText(const std::string& text) {
  return text.size() % 2 == 0 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// The launcher decodes the key text only up to its first character that is
// not hex and rejects every signed archive when the key does not import; a
// private key would be published to everyone with the file.
void keyFaults(const std::string& hex, Faults& out) {
  if (hex.empty()) return;
  const std::string expected = "the public key must be the hexadecimal DER text that 'velmoran-pack keygen' prints";
  const std::string rejects = "; the launcher rejects every signed archive";
  if (!isHexText(hex)) {
    out.push_back({expected, false, "header: the Signature Public Key is not hex text" + rejects, true});
    return;
  }
  const RsaKeyPtr key = importHeaderKey(hex);
  if (!key) {
    out.push_back({expected, false, "header: the Signature Public Key is not an RSA key" + rejects, true});
  } else if (key->type != PK_PUBLIC) {
    out.push_back({"the key given is a private key; give the public key that 'velmoran-pack keygen' prints", false,
                   "header: the Signature Public Key is a private key, published to everyone with this file", true});
  }
}

// The launcher reads any other install type, splash override or splash time
// as a default (a home folder install, no override), so a typo would pass
// unnoticed until install time.
void defaultedFieldFaults(const TailHeader& h, Faults& out) {
  if (!parseInstallTypeName(h.installType)) {
    out.push_back({std::string("--install-type must be ") + kInstallTypeNames + "; got '" + h.installType + "'", true,
                   "header: the Install Type '" + h.installType + "' is not " + kInstallTypeNames +
                       "; the launcher installs as temporary",
                   false});
  }
  if (h.canOverrideSplash != "0" && h.canOverrideSplash != "1") {
    out.push_back({"--can-override-splash must be 0 or 1; got '" + h.canOverrideSplash + "'", true,
                   "header: the Can Override Splash '" + h.canOverrideSplash + "' is not 0 or 1", false});
  }
  const std::string& ms = h.minSplashMs;
  if (ms.empty() || ms.size() > 9 || ms.find_first_not_of("0123456789") != std::string::npos) {
    out.push_back({"--min-splash-ms must be a number of milliseconds; got '" + ms + "'", true,
                   "header: the Min Splash MS '" + ms + "' is not a number of milliseconds", false});
  }
}

// Versions name folders and are compared as numbers: the launcher refuses
// one that is not a number and misreads one too long for it.
void versionFaults(const TailHeader& h, Faults& out) {
  const struct {
    const char* field;
    const char* option;
    const std::string& value;
  } versions[] = {{"App Version", "--app-version", h.appVersion},
                  {"JRE Version", "--jre-version", h.jreVersion},
                  {"GU Version", "--updater-version", h.guVersion}};
  for (const auto& v : versions) {
    if (v.value.empty() || (isVersionNumber(v.value) && v.value.size() <= kMaxVersionDigits)) continue;
    out.push_back({std::string(v.option) + " must be decimal digits (at most 18), such as 00054022298; got '" +
                       v.value + "'",
                   true,
                   std::string("header: the ") + v.field + " '" + v.value +
                       "' is not a version of at most 18 digits; the launcher refuses or misreads it",
                   true});
  }
}

void headerFaults(const TailHeader& h, Faults& out) {
  if (const auto refused = refusedName("application name", h.appName)) {
    out.push_back({*refused, true, "header: " + *refused + "; the launcher installs nothing", true});
  }
  keyFaults(h.signaturePublicKey, out);
  defaultedFieldFaults(h, out);
  versionFaults(h, out);
  for (const TailHeaderField& field : kTailHeaderFields) {
    if (const auto fault = fieldFault(std::string("header field '") + field.name + "'", h.*field.member, field.size)) {
      out.push_back({*fault, true, "header: " + *fault, true});
    }
  }
}

bool planned(const std::vector<TailEntry>& plan, TailEntryRole role) {
  return std::any_of(plan.begin(), plan.end(), [role](const TailEntry& e) { return e.role == role; });
}

// The JRE's folders and its archive are named after it, and the launcher
// takes it from the jre_name parameter: the two must agree.
void jreNameFaults(const LauncherSpec& spec, Faults& out) {
  if (!spec.jreName) return;
  if (const auto refused = refusedName("JRE name", *spec.jreName)) {
    out.push_back({*refused, true, "params: " + *refused + "; the launcher stops there", true});
  }
  const std::optional<std::string> given = jreNameOf(spec.params);
  if (given && *given != *spec.jreName) {
    out.push_back({"parameter jre_name '" + given->substr(0, 60) + "' is not the JRE name '" +
                       spec.jreName->substr(0, 60) + "' that names its archive; give the name once, with --jre-name",
                   true, "params: the jre_name parameter is not the JRE name its archive is named after", true});
  }
}

void missingJreNameFaults(const LauncherSpec& spec, const std::vector<TailEntry>& plan, Faults& out) {
  if (spec.jreName || !planned(plan, TailEntryRole::JreArchive)) return;
  out.push_back({"--jre-name is required with --jre-version", true,
                 "params: no jre_name parameter, though the file carries a JRE; the launcher cannot name its folder",
                 true});
}

const char* versionOption(TailComponent component) {
  switch (component) {
    case TailComponent::Updater: return "--updater-version";
    case TailComponent::Jre: return "--jre-version";
    case TailComponent::Application: return "--app-version";
  }
  return "--updater-version";
}

// The files the builder takes, by the option that gives each; the version
// files are written from the header.
struct FileRole {
  TailEntryRole role;
  TailComponent component;
  const char* option;
  bool required;
};
constexpr FileRole kFileRoles[] = {
    {TailEntryRole::Decompressor, TailComponent::Updater, "--lzma64", true},
    {TailEntryRole::SplashImage, TailComponent::Updater, "--splash", true},
    {TailEntryRole::CaStore, TailComponent::Updater, "--cacerts", false},
    {TailEntryRole::UpdaterArchive, TailComponent::Updater, "--updater-archive", true},
    {TailEntryRole::JreArchive, TailComponent::Jre, "--jre-archive", true},
    {TailEntryRole::AppArchive, TailComponent::Application, "--app-archive", true},
};

// A file for every entry the header's versions call for, and none for the
// entries they leave out.
void fileFaults(const LauncherSpec& spec, const std::vector<TailEntry>& plan, Faults& out) {
  for (const FileRole& f : kFileRoles) {
    const bool given = spec.files.contains(f.role);
    if (planned(plan, f.role)) {
      if (given || !f.required) continue;
      out.push_back({std::string(f.option) + " is required with " + versionOption(f.component), true,
                     std::string("entries: no file for ") + describeRole(f.role), true});
    } else if (given) {
      const TailComponent needed = spec.header.guVersion.empty() ? TailComponent::Updater : f.component;
      out.push_back({std::string(f.option) + " needs " + versionOption(needed), true,
                     std::string("entries: ") + describeRole(f.role) + ", which the header does not call for", true});
    }
  }
}

}  // namespace

std::vector<SpecFault> specFaults(const LauncherSpec& spec) {
  Faults out;
  const std::vector<TailEntry> plan = planOf(spec);
  headerFaults(spec.header, out);
  jreNameFaults(spec, out);
  fileFaults(spec, plan, out);
  missingJreNameFaults(spec, plan, out);
  const Faults params = paramsFaults(spec.params, spec.jreName);
  out.insert(out.end(), params.begin(), params.end());
  return out;
}

std::vector<SpecFault> paramsFaults(const std::vector<Param>& params, const std::optional<std::string>& jreName) {
  Faults out;
  const auto fits = [&out](const std::string& what, const std::string& value, std::size_t readerSize) {
    if (const auto fault = fieldFault(what, value, readerSize)) out.push_back({*fault, true, "params: " + *fault, true});
  };
  for (const auto& [name, value] : params) {
    fits("parameter name '" + name.substr(0, 40) + "'", name, kParamNameSize);
    fits("value of parameter '" + name + "'", value, kParamValueSize);
    // The launcher takes jre_name as the JRE's component name.
    if (name == "jre_name" && value != jreName) {
      if (const auto refused = refusedName("JRE name (parameter jre_name)", value)) {
        out.push_back({*refused, true, "params: " + *refused + "; the launcher stops there", true});
      }
    }
    // The launcher decodes splash_image without skipping line breaks; any text
    // that is not plain Base64 leaves it with no image or a garbled one.
    if (name == "splash_image" && !isPlainBase64(value)) {
      out.push_back({"parameter splash_image must be Base64 on one line (as 'base64 -w0' writes it)", true,
                     "params: the parameter splash_image is not Base64 on one line; the launcher shows no image or "
                     "a garbled one",
                     false});
    }
  }
  const std::size_t length = paramsBytes(params).size();
  if (length > kParamsAreaSize) {
    const std::string fault = "the parameters take " + std::to_string(length) + " bytes; the Params area holds " +
                              std::to_string(kParamsAreaSize);
    out.push_back({fault, true, "params: " + fault, true});
  }
  return out;
}

void refuseFaults(const std::vector<SpecFault>& faults) {
  if (faults.empty()) return;
  if (faults.front().usage) usage(faults.front().refusal);
  fail(faults.front().refusal);
}

std::optional<std::string> jreNameOf(const std::vector<Param>& params) {
  const auto last = std::find_if(params.rbegin(), params.rend(), [](const Param& p) { return p.first == "jre_name"; });
  if (last == params.rend()) return std::nullopt;
  return last->second;
}

std::vector<TailEntry> planOf(const LauncherSpec& spec) { return tailPlan(spec.header, spec.jreName.value_or("")); }

RsaKeyPtr importHeaderKey(const std::string& hex) {
  if (hex.empty() || !isHexText(hex)) return nullptr;
  const std::vector<unsigned char> der = hexToBytes(hex);
  return loadDEREncodedPublicKey(der.data(), static_cast<int>(der.size()));
}

}  // namespace velmoran::pack
