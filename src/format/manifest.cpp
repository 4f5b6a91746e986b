#include "format/manifest.h"

#include <algorithm>

#include "format/names.h"
#include "format/version_file.h"

namespace velmoran {
namespace {

constexpr const char* kFirstLine = "velmoran-manifest 1";
constexpr std::size_t kVersionDigits = 11;
// An archive larger than this is no release of a desktop application.
constexpr uint64_t kMaxArchiveBytes = uint64_t{1} << 40;

// The line's fields, split at white space. (No string streams here: they
// bring the locale machinery, a third of the launcher program.)
std::vector<std::string> fieldsOf(std::string_view line) {
  constexpr std::string_view kSpace = " \t\n\v\f\r";
  std::vector<std::string> fields;
  std::size_t start = line.find_first_not_of(kSpace);
  while (start != std::string_view::npos) {
    const std::size_t end = std::min(line.find_first_of(kSpace, start), line.size());
    fields.emplace_back(line.substr(start, end - start));
    start = line.find_first_not_of(kSpace, end);
  }
  return fields;
}

// The text's lines, each without its "\n"; a last line without one counts.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

std::optional<ManifestKind> kindOf(const std::string& name) {
  if (name == "updater") return ManifestKind::Updater;
  if (name == "application") return ManifestKind::Application;
  if (name == "jre") return ManifestKind::Jre;
  return std::nullopt;
}

bool isDigest(const std::string& text) {
  return text.size() == 64 &&
         std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::optional<bool> flagOf(const std::string& text) {
  if (text == "true") return true;
  if (text == "false") return false;
  return std::nullopt;
}

// One "component" line's fields after the key; empty when good, else why not.
std::string readComponent(const std::vector<std::string>& f, const Manifest& m, ManifestComponent& c) {
  if (f.size() != 7) return "a component line has " + std::to_string(f.size()) + " fields, not 7";
  const std::optional<ManifestKind> kind = kindOf(f[1]);
  if (!kind) return "unknown component kind '" + f[1] + "'";
  c.kind = *kind;
  c.name = f[2];
  c.version = f[3];
  c.archive = f[4];
  c.sha256 = f[6];
  if (c.kind == ManifestKind::Updater ? c.name != kUpdaterComponent : componentNameFault(c.name).has_value()) {
    return "the " + f[1] + " has the name '" + c.name + "'";
  }
  if (c.kind == ManifestKind::Application && c.name != m.application) {
    return "the application component is '" + c.name + "', not the manifest's application";
  }
  if (c.version.size() != kVersionDigits || !isVersionNumber(c.version)) return "'" + c.version + "' is no version";
  if (c.archive != archiveFileName(c.name, c.version)) return "the archive of " + c.name + " is named '" + c.archive + "'";
  if (f[5].empty() || f[5].size() > 13 || !isVersionNumber(f[5])) return "'" + f[5] + "' is no size";
  c.size = std::stoull(f[5]);
  if (c.size == 0 || c.size > kMaxArchiveBytes) return "the size " + f[5] + " is out of range";
  if (!isDigest(c.sha256)) return "'" + c.sha256 + "' is no SHA-256 digest";
  for (const ManifestComponent& other : m.components) {
    if (other.kind == c.kind) return "two components of the kind " + f[1];
  }
  return "";
}

// One line after the first; empty when good, else why not.
std::string readLine(const std::vector<std::string>& f, Manifest& m) {
  if (f.empty()) return "";
  if (f[0] == "application" && f.size() == 2 && m.application.empty() && !componentNameFault(f[1])) {
    m.application = f[1];
    return "";
  }
  if ((f[0] == "required" || f[0] == "rollback") && f.size() == 2 && flagOf(f[1])) {
    (f[0] == "required" ? m.required : m.rollback) = *flagOf(f[1]);
    return "";
  }
  if (f[0] == "component") {
    if (m.application.empty()) return "a component comes before the application line";
    ManifestComponent c;
    std::string fault = readComponent(f, m, c);
    if (fault.empty()) m.components.push_back(c);
    return fault;
  }
  return "the line '" + f[0] + "' is not understood";
}

}  // namespace

std::optional<Manifest> parseManifest(std::string_view text, std::string& fault) {
  if (text.size() > kMaxManifestBytes) {
    fault = "it is larger than " + std::to_string(kMaxManifestBytes) + " bytes";
    return std::nullopt;
  }
  const std::vector<std::string_view> lines = linesOf(text);
  if (lines.empty() || lines.front() != kFirstLine) {
    fault = std::string("it does not start with \"") + kFirstLine + "\"";
    return std::nullopt;
  }
  Manifest m;
  for (auto line = lines.begin() + 1; line != lines.end(); ++line) {
    if (line->find('\0') != std::string_view::npos) fault = "it holds a NUL byte";
    if (fault.empty()) fault = readLine(fieldsOf(*line), m);
    if (!fault.empty()) return std::nullopt;
  }
  if (m.application.empty()) {
    fault = "it names no application";
    return std::nullopt;
  }
  return m;
}

std::string manifestText(const Manifest& m) {
  std::string text = std::string(kFirstLine) + "\napplication " + m.application + "\nrequired " +
                     (m.required ? "true" : "false") + "\nrollback " + (m.rollback ? "true" : "false") + "\n";
  for (const ManifestComponent& c : m.components) {
    text += std::string("component ") + manifestKindName(c.kind) + " " + c.name + " " + c.version + " " + c.archive +
            " " + std::to_string(c.size) + " " + c.sha256 + "\n";
  }
  return text;
}

const char* manifestKindName(ManifestKind kind) {
  switch (kind) {
    case ManifestKind::Updater: return "updater";
    case ManifestKind::Application: return "application";
    case ManifestKind::Jre: break;
  }
  return "jre";
}

}  // namespace velmoran
