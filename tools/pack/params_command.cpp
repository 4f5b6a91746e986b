// velmoran-pack params: restamps the dynamic parameters of a launcher file in
// place; everything outside the fixed-size Params area stays byte for byte.
#include <cstdio>

#include "cli.h"
#include "launcher/tail.h"
#include "layout.h"
#include "tail_writer.h"

namespace velmoran::pack {
namespace {

constexpr const char* kHelp =
    "Usage: velmoran-pack params FILE [--set NAME=VALUE]... [--unset NAME]... [--clear]\n"
    "\n"
    "Rewrites the dynamic parameters of an existing launcher file in place.\n"
    "  --set NAME=VALUE   give NAME this value (replacing every earlier pair of\n"
    "                     that name, or appending it)\n"
    "  --unset NAME       remove every pair of that name\n"
    "  --clear            remove all pairs first\n"
    "Without changes, prints the parameters.\n";

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
      if (eq == std::string::npos || eq == 0) fail("--set needs NAME=VALUE, got '" + a.value() + "'");
      changes.push_back({Change::kSet, a.value().substr(0, eq), a.value().substr(eq + 1)});
    } else if (a.option("--unset")) {
      changes.push_back({Change::kUnset, a.value(), {}});
    } else if (a.flag("--clear")) {
      changes.push_back({Change::kClear, {}, {}});
    } else if (file.empty()) {
      file = a.positional();
    } else {
      fail("unexpected argument '" + a.peek() + "'");
    }
  }
  if (file.empty()) fail("no launcher file given");

  const Bytes bytes = readWholeFile(file);
  const LauncherLayout layout = locateSections(bytes);
  if (layout.paramsAreaOffset < 0) fail(file + " has no Params marker; is it a launcher file?");
  if (!layout.hasEndMarker) fail(file + " has no complete Params area after its Params marker");

  const auto offset = static_cast<std::size_t>(layout.paramsAreaOffset);
  std::vector<Param> params =
      parseParamsArea(std::span<const unsigned char>(bytes).subspan(offset, kParamsAreaSize));
  if (changes.empty()) {
    for (const auto& [name, value] : params) std::printf("%s=%s\n", name.c_str(), value.c_str());
    return 0;
  }
  for (const Change& c : changes) {
    if (c.kind == Change::kSet) setParam(params, c.name, c.value);
    if (c.kind == Change::kUnset) unsetParam(params, c.name);
    if (c.kind == Change::kClear) params.clear();
  }
  const Bytes area = buildParamsArea(params);

  FILE* out = std::fopen(file.c_str(), "r+b");
  if (out == nullptr) fail("cannot open " + file + " for writing");
  const bool ok = fseeko(out, static_cast<off_t>(offset), SEEK_SET) == 0 &&
                  std::fwrite(area.data(), 1, area.size(), out) == area.size();
  const bool closed = std::fclose(out) == 0;
  if (!ok || !closed) fail("cannot write the Params area of " + file);
  std::printf("Wrote %zu parameters to %s\n", params.size(), file.c_str());
  return 0;
}

const CommandRegistration registration{
    {20, "params", "rewrite the dynamic parameters of a launcher file in place", kHelp, runParams}};

}  // namespace
}  // namespace velmoran::pack
