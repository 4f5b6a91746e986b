#include "launcher_file.h"

#include "archive/container.h"
#include "cli.h"
#include "layout.h"

namespace velmoran::pack {
namespace {

void appendVersionFile(Bytes& out, const std::string& path, const std::string& version) {
  appendEntry(out, kEntryPlain, path, Bytes(version.begin(), version.end()));
}

void appendEntries(Bytes& out, const LauncherContents& c) {
  const TailHeader& h = c.header;
  if (h.guVersion.empty()) return;
  appendEntry(out, kEntryPlain, "lzma64", readWholeFile(c.lzma64));
  appendEntry(out, kEntryPlain, "nativesplash.png", readWholeFile(c.splash));
  appendEntry(out, kEntryPlain, "cacerts", c.cacerts ? readWholeFile(*c.cacerts) : Bytes{});
  appendEntry(out, kEntryPlain, "Velmoran-Velmoran-" + h.guVersion + "-archive.p2.l2", readWholeFile(c.updaterArchive));
  appendVersionFile(out, "Velmoran-Velmoran-version.txt", h.guVersion);
  if (!h.jreVersion.empty()) {
    appendEntry(out, kEntryPlain, "Velmoran-" + c.jreName + "-" + h.jreVersion + "-archive.p2.l2",
                readWholeFile(c.jreArchive));
  }
  if (!h.appVersion.empty()) {
    appendEntry(out, kEntryPlain, "Velmoran-" + h.appName + "-" + h.appVersion + "-archive.p2.l2",
                readWholeFile(c.appArchive));
    appendVersionFile(out, "Velmoran-" + h.appName + "-version.txt", h.appVersion);
  }
}

}  // namespace

LauncherFile buildLauncherFile(const LauncherContents& c) {
  LauncherFile file;
  file.bytes = readWholeFile(c.stub);
  Bytes& out = file.bytes;
  const auto tailMarker = allocAndInitMarker();
  const auto paramsMarker = allocAndInitParamsMarker();
  if (findMarkerEnd(out, tailMarker) >= 0 || findMarkerEnd(out, paramsMarker) >= 0) {
    fail("the stub " + c.stub + " already contains a marker (is it a launcher file rather than the launcher program?)");
  }
  file.stubSize = out.size();

  out.insert(out.end(), tailMarker.begin(), tailMarker.end());
  for (const TailHeaderField& field : kTailHeaderFields) appendField(out, c.header.*field.member);
  appendEntries(out, c);
  const std::size_t paramsMarkerAt = out.size();
  out.insert(out.end(), paramsMarker.begin(), paramsMarker.end());
  const Bytes area = buildParamsArea(c.params);
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
