#include "launcher/channel.h"

#include <sys/stat.h>

#include <cstdio>

#include "archive/extract.h"
#include "archive/signature_check.h"
#include "format/names.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"

namespace velmoran {
namespace {

Status refuse(const std::string& record) {
  logError("%s", record.c_str());
  return Status::failure();
}

}  // namespace

Result<std::optional<Manifest>> fetchManifest(const RunSettings& run, const std::string& temporary,
                                              DownloadProgress progress) {
  const std::string name = manifestFileName(run.header.appName);
  const std::string path = setPath(temporary, name);
  const std::string url = run.chosenUpdateUrl + name;
  logMessage("[Update] Fetching the manifest %s\n", url.c_str());
  if (!downloadFile(url, path, DownloadKind::Manifest, progress)) {
    logMessage("[Update] The manifest %s could not be fetched\n", url.c_str());
    return std::optional<Manifest>();
  }
  if (run.key && !verifyArchiveFile(path, run.key.get())) {
    return refuse("[Update] The manifest is not signed with the launcher's key; refusing it\n");
  }
  if (!run.key) logMessage("[Update] The launcher file carries no key: the manifest's signature is not checked\n");
  const std::optional<std::string> text = readArchiveEntry(path, kManifestEntryName, kMaxManifestBytes);
  std::remove(path.c_str());
  if (!text) return refuse("[Update] The manifest archive holds no manifest; refusing it\n");
  std::string fault;
  std::optional<Manifest> manifest = parseManifest(*text, fault);
  if (!manifest) return refuse("[Update] The manifest is refused: " + fault + "\n");
  if (manifest->application != run.header.appName) {
    return refuse("[Update] The manifest is of the application " + manifest->application + "; refusing it\n");
  }
  return manifest;
}

Result<std::string> downloadListedArchive(const RunSettings& run, const std::string& temporary,
                                          const ManifestComponent& component, DownloadProgress progress) {
  const std::string path = setPath(temporary, component.archive);
  const std::string url = run.chosenUpdateUrl + component.archive;
  logMessage("[Update] Downloading %s\n", url.c_str());
  if (!downloadFile(url, path, DownloadKind::Archive, progress, static_cast<curl_off_t>(component.size))) {
    return refuse("[Update] The archive " + url + " could not be fetched\n");
  }
  struct stat info {};
  const std::optional<std::string> digest = sha256HexOfFile(path);
  if (stat(path.c_str(), &info) != 0 || static_cast<uint64_t>(info.st_size) != component.size ||
      digest != component.sha256) {
    std::remove(path.c_str());
    return refuse("[Update] The archive " + component.archive +
                  " is not what the manifest says (size or digest); refusing it\n");
  }
  return path;
}

}  // namespace velmoran
