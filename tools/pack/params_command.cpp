// velmoran-pack params: restamps the dynamic parameters of a launcher file;
// everything outside the fixed-size Params area stays byte for byte.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "format/tail.h"
#include "launcher_rules.h"
#include "layout.h"
#include "tail_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack params FILE [--set NAME=VALUE]... [--unset NAME]... [--clear]\n"
    "\n"
    "Changes the parameters of an existing launcher file (the NAME=VALUE pairs\n"
    "given to 'launcher --param'), which the launcher hands to the updater and\n"
    "the application as properties: one launcher file, restamped per customer\n"
    "or download site, without building it again. Nothing else in the file\n"
    "changes. The changes are made in the order given. Without changes, prints\n"
    "the parameters, one NAME=VALUE a line.\n"
    "\n"
    "Options:\n"
    "  --set NAME=VALUE   give NAME this value (replacing every earlier pair of\n"
    "                     that name, or appending it)\n"
    "  --unset NAME       remove every pair of that name\n"
    "  --clear            remove all pairs first\n";

void setParam(std::vector<Param>& params, const std::string& name, const std::string& value) {
  bool placed = false;
  std::vector<Param> kept;
  for (Param& p : params) {
    if (p.first != name) {
      kept.push_back(std::move(p));
    } else if (!placed) {
      kept.emplace_back(name, value);
      placed = true;
    }
  }
  if (!placed) kept.emplace_back(name, value);
  params = std::move(kept);
}

void unsetParam(std::vector<Param>& params, const std::string& name) {
  std::erase_if(params, [&](const Param& p) { return p.first == name; });
}

int runParams(const std::vector<std::string>& argv) {
  Args a(argv);
  std::string file;
  struct Change {
    enum { kSet, kUnset, kClear } kind;
    std::string name, value;
  };
  std::vector<Change> changes;
  while (!a.done()) {
    if (a.option("--set")) {
      const auto eq = a.value().find('=');
      if (eq == std::string::npos || eq == 0) usage("--set needs NAME=VALUE, got '" + a.value() + "'");
      changes.push_back({Change::kSet, a.value().substr(0, eq), a.value().substr(eq + 1)});
    } else if (a.option("--unset")) {
      changes.push_back({Change::kUnset, a.value(), {}});
    } else if (a.flag("--clear")) {
      changes.push_back({Change::kClear, {}, {}});
    } else if (file.empty()) {
      file = a.positional();
    } else {
      usage("unexpected argument '" + a.peek() + "' (try --help)");
    }
  }
  if (file.empty()) usage("no launcher file given");

  // The new file replaces the old one by rename, which a device or a pipe cannot take.
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) fail("cannot read " + file + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) fail(file + " is not a regular file");
  const Bytes bytes = readWholeFile(file);
  const LauncherLayout layout = locateSections(bytes);
  if (layout.paramsAreaOffset < 0) fail(file + " has no Params marker; is it a launcher file?");
  if (!layout.hasEndMarker) fail(file + " has no complete Params area after its Params marker");

  const auto offset = static_cast<std::size_t>(layout.paramsAreaOffset);
  std::vector<Param> params = parseParamsArea(std::span<const unsigned char>(bytes).subspan(offset, kParamsAreaSize));
  if (changes.empty()) {
    for (const auto& [name, value] : params) std::printf("%s=%s\n", name.c_str(), value.c_str());
    return 0;
  }
  for (const Change& c : changes) {
    if (c.kind == Change::kSet) setParam(params, c.name, c.value);
    if (c.kind == Change::kUnset) unsetParam(params, c.name);
    if (c.kind == Change::kClear) params.clear();
  }
  refuseFaults(paramsFaults(params));
  Bytes changed = bytes;
  const Bytes area = buildParamsArea(params);
  std::copy(area.begin(), area.end(), changed.begin() + static_cast<std::ptrdiff_t>(offset));
  // Written whole and renamed: a failed run leaves the file as it was, never half restamped.
  writeWholeFile(file, changed, st.st_mode & 07777);
  std::printf("Wrote %zu parameters to %s\n", params.size(), file.c_str());
  return 0;
}

}  // namespace

constinit const Command kParamsCommand{"params", "change the parameters of a launcher file", kHelp, runParams};

}  // namespace velmoran::pack
