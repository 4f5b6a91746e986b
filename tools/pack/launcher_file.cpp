#include "launcher_file.h"

#include "archive/container.h"
#include "cli.h"
#include "layout.h"

namespace velmoran::pack {
namespace {

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes contentOf(const TailEntry& entry, const LauncherSpec& spec) {
  switch (entry.role) {
    case TailEntryRole::UpdaterVersion: return textBytes(spec.header.guVersion);
    case TailEntryRole::AppVersion: return textBytes(spec.header.appVersion);
    default: break;
  }
  // A CA store left out is an empty entry: the JRE keeps its own.
  const auto file = spec.files.find(entry.role);
  return file == spec.files.end() ? Bytes{} : readWholeFile(file->second);
}

}  // namespace

LauncherFile buildLauncherFile(const std::string& stub, const LauncherSpec& spec) {
  LauncherFile file;
  file.bytes = readWholeFile(stub);
  Bytes& out = file.bytes;
  const auto tailMarker = allocAndInitMarker();
  const auto paramsMarker = allocAndInitParamsMarker();
  if (findMarkerEnd(out, tailMarker) >= 0 || findMarkerEnd(out, paramsMarker) >= 0) {
    fail("the stub " + stub + " already contains a marker (is it a launcher file rather than the launcher program?)");
  }
  file.stubSize = out.size();

  out.insert(out.end(), tailMarker.begin(), tailMarker.end());
  for (const TailHeaderField& field : kTailHeaderFields) appendField(out, spec.header.*field.member);
  for (const TailEntry& entry : planOf(spec)) appendEntry(out, kEntryPlain, entry.name, contentOf(entry, spec));
  const std::size_t paramsMarkerAt = out.size();
  out.insert(out.end(), paramsMarker.begin(), paramsMarker.end());
  const Bytes area = buildParamsArea(spec.params);
  out.insert(out.end(), area.begin(), area.end());
  const Bytes endMarker = allocAndInitParamsEndMarker();
  out.insert(out.end(), endMarker.begin(), endMarker.end());

  // The launcher takes the first occurrence of each marker; an embedded file
  // that happened to hold one would send it to the wrong place.
  const LauncherLayout layout = locateSections(out);
  if (layout.headerOffset != static_cast<int64_t>(file.stubSize + tailMarker.size()) ||
      layout.paramsAreaOffset != static_cast<int64_t>(paramsMarkerAt + paramsMarker.size())) {
    fail("an embedded file contains a marker; the launcher would misread this file");
  }
  return file;
}

}  // namespace velmoran::pack
