#include "net/download.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "format/names.h"
#include "net/curl_library.h"
#include "util/file.h"
#include "util/log.h"
#include "util/paths.h"
#include "platform/stop.h"

namespace velmoran {
namespace {

constexpr int kBarWidth = 40;
// Bytes a second: a transfer slower than this for the whole stall time is
// given up. A server that trickles a byte a second would otherwise hold an
// archive download (and the user at the splash) until the 30-minute limit of
// each attempt, and a rule of 1 byte/s would let such a trickle through or not
// by the jitter of its timing.
constexpr long kLowestSpeed = 1024;

long connectTimeoutSeconds = 30;
// The check for updates never holds a start up for long.
constexpr long kManifestConnectTimeoutSeconds = 2;
constexpr long kManifestTimeLimitMs = 10 * 1000;
long stallTimeoutSeconds = 60;
long versionFileTimeLimitMs = 60 * 1000;
long archiveTimeLimitMs = 30 * 60 * 1000;

// One attempt's output and what it may take.
struct Transfer {
  FILE* out;
  curl_off_t limit;  // bytes; -1 for none
  curl_off_t received = 0;
  bool tooLarge = false;
  // libcurl's own account of a failure: which time-out, how many bytes were missing.
  char detail[CURL_ERROR_SIZE] = {};
};

struct CurlCleanup {
  const CurlLibrary* curl;
  void operator()(CURL* handle) const noexcept { curl->easy_cleanup(handle); }
};
using CurlPtr = std::unique_ptr<CURL, CurlCleanup>;

long timeLimitMsOf(DownloadKind kind) {
  switch (kind) {
    case DownloadKind::VersionFile: return versionFileTimeLimitMs;
    case DownloadKind::Manifest: return kManifestTimeLimitMs;
    case DownloadKind::Archive: break;
  }
  return archiveTimeLimitMs;
}

curl_off_t sizeLimitOf(const DownloadRequest& request) {
  if (request.sizeLimit >= 0) return request.sizeLimit;
  switch (request.kind) {
    case DownloadKind::VersionFile: return kMaxVersionFileSize;
    case DownloadKind::Manifest: return kMaxManifestSize;
    case DownloadKind::Archive: break;
  }
  return kMaxArchiveSize;
}

void say(const char* line) { logConsole("%s\n", line); }

// Writes the body into the file until the limit would be passed; a short
// count then makes libcurl abort the transfer, whatever the server announced.
size_t writeBody(char* data, size_t size, size_t count, void* target) {
  Transfer& transfer = *static_cast<Transfer*>(target);
  const size_t bytes = size * count;
  if (transfer.limit >= 0 && static_cast<curl_off_t>(bytes) > transfer.limit - transfer.received) {
    transfer.tooLarge = true;
    return 0;
  }
  if (std::fwrite(data, 1, bytes, transfer.out) != bytes) return 0;
  transfer.received += static_cast<curl_off_t>(bytes);
  return bytes;
}

void setOptions(const CurlLibrary& curl, CURL* handle, const DownloadRequest& request, Transfer& transfer,
                bool withoutProxy) {
  const auto setopt = curl.easy_setopt;
  setopt(handle, CURLOPT_URL, request.url.c_str());
  setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
  setopt(handle, CURLOPT_WRITEDATA, &transfer);
  setopt(handle, CURLOPT_ERRORBUFFER, transfer.detail);
  // A length announced beyond the limit is refused before any body arrives.
  if (transfer.limit >= 0) setopt(handle, CURLOPT_MAXFILESIZE_LARGE, transfer.limit);
  setopt(handle, CURLOPT_NOPROGRESS, 0L);
  setopt(handle, CURLOPT_XFERINFOFUNCTION, progress_func);
  setopt(handle, CURLOPT_XFERINFODATA, const_cast<DownloadRequest*>(&request));
  // An error page must not be installed as a version file or an archive.
  setopt(handle, CURLOPT_FAILONERROR, 1L);
  setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  setopt(handle, CURLOPT_MAXREDIRS, 5L);
  setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // A server that stops answering would otherwise hold the launcher forever.
  setopt(handle, CURLOPT_CONNECTTIMEOUT,
         request.kind == DownloadKind::Manifest ? kManifestConnectTimeoutSeconds : connectTimeoutSeconds);
  setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kLowestSpeed);
  setopt(handle, CURLOPT_LOW_SPEED_TIME, stallTimeoutSeconds);
  // A server that sends just fast enough for the stall rule must end too.
  setopt(handle, CURLOPT_TIMEOUT_MS, timeLimitMsOf(request.kind));
  // Time-outs must not be carried by signals on a worker thread.
  setopt(handle, CURLOPT_NOSIGNAL, 1L);
  if (withoutProxy) setopt(handle, CURLOPT_PROXY, "");
}

// Runs the transfer; true on success, otherwise the reason goes to stderr.
bool perform(const CurlLibrary& curl, CURL* handle, const DownloadRequest& request, const Transfer& transfer) {
  const CURLcode result = curl.easy_perform(handle);
  if (result == CURLE_OK) return true;
  if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
    std::fprintf(stderr, "[HttpDownloader] %s is larger than the %lld bytes allowed; refusing it\n",
                 request.url.c_str(), static_cast<long long>(transfer.limit));
  } else if (result == CURLE_HTTP_RETURNED_ERROR) {
    long status = 0;
    curl.easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    std::fprintf(stderr, "[HttpDownloader] curl_easy_perform() failed: %s (HTTP status %ld)\n",
                 curl.easy_strerror(result), status);
  } else if (transfer.detail[0] != '\0') {
    // The code's text alone does not tell the stall rule from the time limit.
    std::fprintf(stderr, "[HttpDownloader] curl_easy_perform() failed: %s (%s)\n", curl.easy_strerror(result),
                 transfer.detail);
  } else {
    std::fprintf(stderr, "[HttpDownloader] curl_easy_perform() failed: %s\n",
                 curl.easy_strerror(result));
  }
  return false;
}

// Discards what a failed attempt wrote, so the retry's file holds only its own bytes.
bool truncateOutput(FILE* out) {
  if (std::fflush(out) != 0) return false;
  if (ftruncate(fileno(out), 0) != 0) return false;
  std::rewind(out);
  return true;
}

void* downloadThreadEntry(void* request) {
  downloadThread(*static_cast<DownloadRequest*>(request));
  return nullptr;
}

}  // namespace

void setDownloadTimeouts(long connectSeconds, long stallSeconds) {
  connectTimeoutSeconds = connectSeconds;
  stallTimeoutSeconds = stallSeconds;
}

void setDownloadTimeLimits(long versionFileMs, long archiveMs) {
  versionFileTimeLimitMs = versionFileMs;
  archiveTimeLimitMs = archiveMs;
}

int progress_func(void* clientData, curl_off_t downloadTotal, curl_off_t downloadedNow, curl_off_t,
                  curl_off_t) {
  // libcurl calls this at least once a second, also while nothing arrives.
  if (stopRequested()) return 1;
  if (downloadTotal <= 0) return 0;
  const double fraction =
      static_cast<double>(downloadedNow) / static_cast<double>(downloadTotal);
  const long filled = std::lround(fraction * kBarWidth);
  logConsole("%3.0f%% [%s%s]\r", fraction * 100, std::string(static_cast<std::size_t>(filled), '=').c_str(),
             std::string(static_cast<std::size_t>(kBarWidth - filled), ' ').c_str());
  const auto* request = static_cast<const DownloadRequest*>(clientData);
  if (request != nullptr && request->progress != nullptr) request->progress(static_cast<int>(fraction * 100));
  return 0;
}

namespace {

// The download is written to a new file beside the destination and renamed
// onto it only when complete, so a failed download never destroys the good
// file that was there.
FilePtr createPartFile(const std::string& destination, std::string& partPath) {
  partPath = destination + ".part-XXXXXX";
  UniqueFd fd(mkstemp(partPath.data()));
  if (!fd) return nullptr;
  FilePtr out(fdopen(fd.get(), "wb"));
  if (!out) {
    unlink(partPath.c_str());
    return nullptr;
  }
  fd.release();
  fchmod(fileno(out.get()), 0644);
  return out;
}

}  // namespace

void downloadThread(DownloadRequest& request) {
  std::string partPath;
  FilePtr out = createPartFile(request.destination, partPath);
  if (!out) {
    std::fprintf(stderr, "[HttpDownloader] Unable to create %s: %s\n",
                 request.destination.c_str(), std::strerror(errno));
    return;
  }
  logConsole("[HttpDownloader] Starting download of %s to %s...\n", request.url.c_str(),
             request.destination.c_str());
  say("[HttpDownloader] Kickstarting curl");

  // The first download loads libcurl; a machine without it cannot download.
  const CurlLibrary* curl = curlLibrary();
  CurlPtr handle(curl != nullptr ? curl->easy_init() : nullptr, CurlCleanup{curl});
  if (!handle) {
    say("[HttpDownloader] Unable to initialise CURL!");
    out.reset();
    unlink(partPath.c_str());
    return;
  }
  const curl_off_t limit = sizeLimitOf(request);
  Transfer first{out.get(), limit};
  say("[HttpDownloader] Setting up download options");
  setOptions(*curl, handle.get(), request, first, false);
  say("[HttpDownloader] Starting download");
  request.succeeded = perform(*curl, handle.get(), request, first);
  say("[HttpDownloader] Done download");
  handle.reset();
  say("[HttpDownloader] Cleaned up");

  if (!request.succeeded && !stopRequested()) {
    say("[HttpDownloader] Initial download failed. Retrying...");
    CurlPtr retry(curl->easy_init(), CurlCleanup{curl});
    Transfer second{out.get(), limit};
    if (retry && truncateOutput(out.get())) {
      setOptions(*curl, retry.get(), request, second, true);
      request.succeeded = perform(*curl, retry.get(), request, second);
    }
  }
  std::fflush(stdout);
  // A file that cannot be written out completely is not a download.
  if (std::fclose(out.release()) != 0) request.succeeded = false;
  if (request.succeeded && std::rename(partPath.c_str(), request.destination.c_str()) != 0) {
    std::fprintf(stderr, "[HttpDownloader] Unable to move the download onto %s: %s\n",
                 request.destination.c_str(), std::strerror(errno));
    request.succeeded = false;
  }
  if (!request.succeeded) unlink(partPath.c_str());
}

bool downloadFile(const std::string& url, const std::string& destination, DownloadKind kind,
                  DownloadProgress progress, curl_off_t sizeLimit) {
  DownloadRequest request{url, destination, kind, progress, sizeLimit};
  pthread_t worker;
  const int error = pthread_create(&worker, nullptr, downloadThreadEntry, &request);
  if (error != 0) {
    std::fprintf(stderr, "[HttpDownloader] Unable to start the download thread: %s\n",
                 std::strerror(error));
    return false;
  }
  pthread_join(worker, nullptr);
  return request.succeeded;
}

void downloadVersionFile(const std::string& folder, const std::string& updateUrl,
                         const std::string& componentName) {
  if (isInvalidUpdateURL(updateUrl)) {
    logMessage("[Extractor] Invalid Update URL. Skipping...\n");
    return;
  }
  const std::string fileName = versionFileName(componentName);
  downloadFile(updateUrl + fileName, setPath(folder, fileName), DownloadKind::VersionFile);
}

}  // namespace velmoran
