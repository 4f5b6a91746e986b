// HTTP downloads of version files and JRE archives from the update URL. Each
// download runs on a worker thread that the caller waits for, draws a console
// bar and tells its caller the percentage done, and is tried once more
// without proxy.
#pragma once

#include <curl/curl.h>

#include <string>

#include "net/update_url.h"

namespace velmoran {

// What is fetched decides how much may arrive and for how long: a version
// file is a line of text, an archive is large and may come slowly, and the
// update manifest is small and must come at once (an application waits for it
// only when nothing is installed, and then briefly).
enum class DownloadKind { Archive, VersionFile, Manifest };

// The most a version file may hold; a larger answer is not a version file.
constexpr curl_off_t kMaxVersionFileSize = 4096;
// The most a JRE archive may hold, compressed: a full JDK takes a tenth of it.
constexpr curl_off_t kMaxArchiveSize = curl_off_t{1} << 30;
// The most an update manifest may hold.
constexpr curl_off_t kMaxManifestSize = curl_off_t{1} << 20;

// Told the percentage done (0 to 100) once the size is known, on the
// download's worker thread.
using DownloadProgress = void (*)(int percent);

// One download; the caller keeps it alive until the worker has been joined.
struct DownloadRequest {
  std::string url;
  std::string destination;
  DownloadKind kind = DownloadKind::Archive;
  DownloadProgress progress = nullptr;
  curl_off_t sizeLimit = -1;  // bytes; -1: the kind's
  bool succeeded = false;     // set by the worker when an attempt fully succeeds
};

// Fetches url into destination (created or truncated). True when an attempt
// ended without a transfer error, with an HTTP status below 400, within the
// kind's size and time limits. Blocks.
// sizeLimit, when given, replaces the kind's limit (an archive whose size
// the manifest states).
bool downloadFile(const std::string& url, const std::string& destination,
                  DownloadKind kind = DownloadKind::Archive, DownloadProgress progress = nullptr,
                  curl_off_t sizeLimit = -1);

// The worker's body: opens the destination, makes the attempts, closes it.
void downloadThread(DownloadRequest& request);

// libcurl's progress callback, clientData the DownloadRequest (or none): the
// console bar and the request's progress once the size is known. Aborts the
// transfer only when the run is being stopped (platform/stop.h); there is no
// retry then.
int progress_func(void* clientData, curl_off_t downloadTotal, curl_off_t downloadedNow,
                  curl_off_t uploadTotal, curl_off_t uploadedNow);

// Fetches "Velmoran-<component>-version.txt" from the update URL (which ends
// with "/") into folder, unless there is no update server, as a version file.
// The outcome is left to whoever reads the file.
void downloadVersionFile(const std::string& folder, const std::string& updateUrl,
                         const std::string& componentName);

// For tests only: the connect time-out and the time below 1 KiB/s after
// which a transfer is given up (30 and 60 seconds in a run; a manifest's
// connect time-out is 2 seconds whatever is set here).
void setDownloadTimeouts(long connectSeconds, long stallSeconds);
// For tests only: the time one attempt may take in all, by kind, in
// milliseconds (60 seconds for a version file and 30 minutes for an archive
// in a run; 10 seconds for a manifest).
void setDownloadTimeLimits(long versionFileMs, long archiveMs);

}  // namespace velmoran
