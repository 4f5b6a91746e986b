// HTTP downloads of version files and JRE archives from the update URL. Each
// download runs on a worker thread that the caller waits for, draws a console
// bar and moves the splash progress bar, and is tried once more without proxy.
#pragma once

#include <curl/curl.h>

#include <string>

#include "net/update_url.h"

namespace velmoran {

// One download; the caller keeps it alive until the worker has been joined.
struct DownloadRequest {
  std::string url;
  std::string destination;
  bool succeeded = false;  // set by the worker when an attempt fully succeeds
};

// Fetches url into destination (created or truncated). True when an attempt
// ended without a transfer error and with an HTTP status below 400. Blocks.
bool downloadFile(const std::string& url, const std::string& destination);

// The worker's body: opens the destination, makes the attempts, closes it.
void downloadThread(DownloadRequest& request);

// libcurl's progress callback: the console bar and the splash percentage once
// the size is known. Never aborts the transfer.
int progress_func(void* clientData, curl_off_t downloadTotal, curl_off_t downloadedNow,
                  curl_off_t uploadTotal, curl_off_t uploadedNow);

// Fetches "Velmoran-<component>-version.txt" from the update URL (which ends
// with "/") into folder, unless there is no update server. The outcome is
// left to whoever reads the file.
void downloadVersionFile(const std::string& folder, const std::string& updateUrl,
                         const std::string& componentName);

// For tests only: the connect time-out and the time below 1 byte/s after
// which a transfer is given up (30 and 60 seconds in a run).
void setDownloadTimeouts(long connectSeconds, long stallSeconds);

}  // namespace velmoran
