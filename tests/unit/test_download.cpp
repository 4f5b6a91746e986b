#include "net/download.h"

#include "net/curl_library.h"
#include "splash/splash.h"
#include "test_support.h"
#include "xvfb.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

extern char** environ;

namespace velmoran {
namespace {

namespace fs = std::filesystem;

// The fixture server's body for /file/N.
std::string bodyOf(std::size_t n) {
  std::string body(n, '\0');
  for (std::size_t i = 0; i < n; ++i) body[i] = static_cast<char>(i % 251);
  return body;
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t countOf(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// tests/fixtures/http_server.py, started for the test suite and killed after it.
class HttpServer {
 public:
  HttpServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const std::string script = std::string(VELMORAN_FIXTURES) + "/http_server.py";
    char* argv[] = {const_cast<char*>("/usr/bin/python3"), const_cast<char*>(script.c_str()),
                    nullptr};
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(fds[0]);
    port_ = std::atoi(line.c_str());
  }
  ~HttpServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool running() const { return pid_ > 0 && port_ > 0; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on.
int closedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

size_t appendToString(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

struct Outcome {
  bool result = false;
  std::string out;
  std::string err;
};

class DownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<HttpServer>(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(server_->running());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                             "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
      unsetenv(name);
    }
  }
  void TearDown() override {
    setDownloadTimeouts(30, 60);
    setDownloadTimeLimits(60 * 1000, 30 * 60 * 1000);
    unsetenv("http_proxy");
  }

  static std::string url(const std::string& path) { return server_->url(path); }

  Outcome download(const std::string& path, const fs::path& destination,
                   DownloadKind kind = DownloadKind::Archive) {
    Outcome o;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    o.result = downloadFile(url(path), destination.string(), kind);
    o.out = testing::internal::GetCapturedStdout();
    o.err = testing::internal::GetCapturedStderr();
    return o;
  }

  // Requests the server has had for path, asked directly so the downloader
  // under test is not involved.
  static int requestsFor(const std::string& path) {
    const CurlLibrary* curl = curlLibrary();
    if (curl == nullptr) return -1;
    std::string body;
    CURL* handle = curl->easy_init();
    const std::string countUrl = url("/count" + path);
    curl->easy_setopt(handle, CURLOPT_URL, countUrl.c_str());
    curl->easy_setopt(handle, CURLOPT_PROXY, "");
    curl->easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendToString);
    curl->easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl->easy_perform(handle);
    curl->easy_cleanup(handle);
    return result == CURLE_OK ? std::atoi(body.c_str()) : -1;
  }

  static inline std::unique_ptr<HttpServer> server_;
  testutil::TempDir temp_;
  fs::path dir_ = temp_.path();
};

const std::string kRetryLine = "[HttpDownloader] Initial download failed. Retrying...\n";

TEST_F(DownloadTest, DeliversTheBodyByteForByteWithTheDocumentedMessages) {
  const fs::path destination = dir_ / "file.bin";
  const Outcome o = download("/file/300000", destination);
  ASSERT_TRUE(o.result) << o.err;
  EXPECT_EQ(readAll(destination), bodyOf(300000));
  EXPECT_EQ(requestsFor("/file/300000"), 1);
  EXPECT_EQ(o.err, "");

  const std::string start = "[HttpDownloader] Starting download of " + url("/file/300000") +
                            " to " + destination.string() +
                            "...\n"
                            "[HttpDownloader] Kickstarting curl\n"
                            "[HttpDownloader] Setting up download options\n"
                            "[HttpDownloader] Starting download\n";
  EXPECT_EQ(o.out.substr(0, start.size()), start);
  EXPECT_TRUE(o.out.ends_with("]\r[HttpDownloader] Done download\n[HttpDownloader] Cleaned up\n"))
      << o.out;
  EXPECT_NE(o.out.find("100% [" + std::string(40, '=') + "]\r"), std::string::npos);
  EXPECT_EQ(countOf(o.out, kRetryLine), 0u);
}

TEST_F(DownloadTest, AnUnknownLengthDrawsNoBar) {
  const fs::path destination = dir_ / "chunked.bin";
  const Outcome o = download("/chunked/50000", destination);
  ASSERT_TRUE(o.result) << o.err;
  EXPECT_EQ(readAll(destination), bodyOf(50000));
  EXPECT_EQ(o.out.find('\r'), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("% ["), std::string::npos) << o.out;
}

struct FailureCase {
  const char* path;
  const char* error;  // part of the stderr line of each attempt
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.path; }

class DownloadFailureTest : public DownloadTest,
                            public ::testing::WithParamInterface<FailureCase> {};

// Every failed attempt is tried once more, nothing of an error page or a
// redirect page ends up in the file, and the good file that was there stays.
TEST_P(DownloadFailureTest, FailsAfterOneRetryAndKeepsTheFileThatWasThere) {
  const FailureCase& c = GetParam();
  const fs::path destination = dir_ / "out.bin";
  testutil::writeFile(destination.string(), "previous good copy");
  const Outcome o = download(c.path, destination);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(countOf(o.out, kRetryLine), 1u) << o.out;
  EXPECT_EQ(countOf(o.err, "[HttpDownloader] curl_easy_perform() failed: "), 2u) << o.err;
  EXPECT_EQ(countOf(o.err, c.error), 2u) << o.err;
  EXPECT_EQ(requestsFor(c.path), 2);
  EXPECT_EQ(readAll(destination), "previous good copy");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, DownloadFailureTest,
    ::testing::Values(FailureCase{"/status/404", "(HTTP status 404)"},
                      FailureCase{"/status/500", "(HTTP status 500)"},
                      FailureCase{"/redirect/6", "Number of redirects hit maximum amount"},
                      FailureCase{"/redirect-ftp", "Unsupported protocol"}));

struct LimitCase {
  const char* path;
  DownloadKind kind;
  bool succeeds;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << c.path << (c.kind == DownloadKind::VersionFile ? " as a version file" : " as an archive");
}

class DownloadLimitTest : public DownloadTest, public ::testing::WithParamInterface<LimitCase> {};

// A version file is a line of text: an answer larger than 4 KiB is refused,
// whether its length is announced or not, and an endless one is cut off.
TEST_P(DownloadLimitTest, AVersionFileOverFourKibibytesIsRefused) {
  const LimitCase& c = GetParam();
  const fs::path destination = dir_ / "out.bin";
  const Outcome o = download(c.path, destination, c.kind);
  EXPECT_EQ(o.result, c.succeeds) << o.err;
  EXPECT_EQ(fs::exists(destination), c.succeeds);
  const std::string refusal = "[HttpDownloader] " + url(c.path) + " is larger than the 4096 bytes allowed; refusing it\n";
  EXPECT_EQ(countOf(o.err, refusal), c.succeeds ? 0u : 2u) << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadLimitTest,
    ::testing::Values(LimitCase{"/file/4096", DownloadKind::VersionFile, true},
                      LimitCase{"/file/4097", DownloadKind::VersionFile, false},
                      LimitCase{"/chunked/4097", DownloadKind::VersionFile, false},
                      LimitCase{"/endless", DownloadKind::VersionFile, false},
                      LimitCase{"/chunked/300000", DownloadKind::Archive, true}));

// What standard error says of an attempt that each rule ended.
const std::string kTimeLimitLine = "failed: Timeout was reached (Operation timed out after ";
const std::string kStallLine =
    "failed: Timeout was reached (Operation too slow. Less than 1024 bytes/sec transferred the last 1 seconds)\n";

class DownloadTimeLimitTest : public DownloadTest, public ::testing::WithParamInterface<DownloadKind> {};

// A server that trickles bytes passes the stall rule for ever; the time limit
// of the kind ends each attempt, and says so.
TEST_P(DownloadTimeLimitTest, EndsATransferThatNeverFinishes) {
  setDownloadTimeouts(2, 3600);
  setDownloadTimeLimits(GetParam() == DownloadKind::VersionFile ? 300 : 3600 * 1000,
                        GetParam() == DownloadKind::Archive ? 300 : 3600 * 1000);
  const Outcome o = download("/trickle", dir_ / "trickle.bin", GetParam());
  EXPECT_FALSE(o.result);
  EXPECT_EQ(countOf(o.err, kTimeLimitLine), 2u) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Kinds, DownloadTimeLimitTest,
                         ::testing::Values(DownloadKind::VersionFile, DownloadKind::Archive));

TEST_F(DownloadTest, FollowsUpToFiveRedirects) {
  for (const char* path : {"/redirect/1", "/redirect/5"}) {
    const fs::path destination = dir_ / "redirected.bin";
    const Outcome o = download(path, destination);
    EXPECT_TRUE(o.result) << path << o.err;
    EXPECT_EQ(readAll(destination), bodyOf(1000)) << path;
  }
}

// Ten bytes a second pass a rule of 1 byte/s for ever, so only the 30-minute
// limit would end the attempt; the stall rule's 1 KiB/s ends it.
TEST_F(DownloadTest, GivesUpOnAServerThatCrawls) {
  setDownloadTimeouts(2, 1);
  setDownloadTimeLimits(3600 * 1000, 3600 * 1000);
  const Outcome o = download("/crawl", dir_ / "crawl.bin");
  EXPECT_FALSE(o.result);
  EXPECT_EQ(countOf(o.err, kStallLine), 2u) << o.err;
  EXPECT_EQ(requestsFor("/crawl"), 2);
}

TEST_F(DownloadTest, GivesUpOnAStalledServer) {
  setDownloadTimeouts(2, 1);
  const fs::path destination = dir_ / "stalled.bin";
  const Outcome o = download("/stall", destination);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(countOf(o.out, kRetryLine), 1u);
  EXPECT_EQ(countOf(o.err, kStallLine), 2u) << o.err;
  EXPECT_EQ(requestsFor("/stall"), 2);
}

TEST_F(DownloadTest, RetriesWithoutTheRefusingProxy) {
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(closedPort())).c_str(), 1);
  const fs::path destination = dir_ / "direct.bin";
  const Outcome o = download("/file/5000", destination);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(countOf(o.out, kRetryLine), 1u) << o.out;
  EXPECT_EQ(countOf(o.err, "[HttpDownloader] curl_easy_perform() failed: "), 1u) << o.err;
  EXPECT_EQ(readAll(destination), bodyOf(5000));
  EXPECT_EQ(requestsFor("/file/5000"), 1);
}

TEST_F(DownloadTest, TheRetryStartsFromAnEmptyFile) {
  const fs::path destination = dir_ / "flaky.bin";
  const Outcome o = download("/flaky/20000", destination);
  EXPECT_TRUE(o.result);
  EXPECT_EQ(countOf(o.out, kRetryLine), 1u);
  EXPECT_EQ(readAll(destination), bodyOf(20000));
  EXPECT_EQ(requestsFor("/flaky/20000"), 2);
}

TEST_F(DownloadTest, ADestinationThatCannotBeCreatedRequestsNothing) {
  const Outcome o = download("/file/10", dir_ / "missing" / "file.bin");
  EXPECT_FALSE(o.result);
  EXPECT_NE(o.err.find("[HttpDownloader] Unable to create "), std::string::npos);
  EXPECT_EQ(requestsFor("/file/10"), 0);
}

TEST_F(DownloadTest, FetchesTheVersionFileOfAComponent) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  downloadVersionFile(dir_.string(), url("/updates/"), "MyJre");
  downloadVersionFile(dir_.string(), url("/endless/"), "MyJre");
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(readAll(dir_ / "Velmoran-MyJre-version.txt"), "00054022298\n");
  EXPECT_EQ(requestsFor("/updates/Velmoran-MyJre-version.txt"), 1);
  // It is fetched as a version file, with that kind's limits.
  EXPECT_NE(err.find("is larger than the 4096 bytes allowed"), std::string::npos) << err;
}

TEST_F(DownloadTest, ThePlaceholderUpdateUrlIsSkipped) {
  testing::internal::CaptureStdout();
  downloadVersionFile(dir_.string(), "http://127.0.0.255/", "MyJre");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(out.ends_with(" [Extractor] Invalid Update URL. Skipping...\n")) << out;
  EXPECT_EQ(out.find("[HttpDownloader]"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "Velmoran-MyJre-version.txt"));
}

struct LoadFailure {
  const char* file;
  const char* record;  // what standard error says
};

void PrintTo(const LoadFailure& c, std::ostream* os) { *os << c.file; }

class CurlLoadFailureTest : public ::testing::TestWithParam<LoadFailure> {};

// A machine without libcurl, or with something else under its name, gets a
// reason and no table; the downloader then fails as when no handle can be made.
TEST_P(CurlLoadFailureTest, NamesTheReasonAndGivesNoTable) {
  testing::internal::CaptureStderr();
  const std::optional<CurlLibrary> curl = loadCurlLibrary(GetParam().file);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(curl.has_value());
  EXPECT_NE(err.find(GetParam().record), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CurlLoadFailureTest,
    ::testing::Values(
        LoadFailure{"libvelmoran-no-such-library.so.4",
                    "[HttpDownloader] Unable to load libvelmoran-no-such-library.so.4 ("},
        LoadFailure{"libz.so.1", "[HttpDownloader] libz.so.1 has no curl_easy_init: "}));

struct BarCase {
  curl_off_t total;
  curl_off_t now;
  std::string bar;
};

void PrintTo(const BarCase& c, std::ostream* os) { *os << c.now << "/" << c.total; }

class ProgressBarTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(ProgressBarTest, DrawsTheConsoleBar) {
  const BarCase& c = GetParam();
  testing::internal::CaptureStdout();
  EXPECT_EQ(progress_func(nullptr, c.total, c.now, 0, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), c.bar);
}

std::string bar(const char* percent, int filled) {
  return std::string(percent) + "% [" + std::string(filled, '=') +
         std::string(filled < 40 ? 40 - filled : 0, ' ') + "]\r";
}

INSTANTIATE_TEST_SUITE_P(
    Fractions, ProgressBarTest,
    ::testing::Values(BarCase{0, 0, ""},              // size not known yet: nothing
                      BarCase{0, 5000, ""},
                      BarCase{400, 100, bar(" 25", 10)},
                      BarCase{80, 1, bar("  1", 1)},  // 0.5 "=" rounds away from zero
                      BarCase{3, 1, bar(" 33", 13)},
                      BarCase{1000, 0, bar("  0", 0)},
                      BarCase{200, 200, bar("100", 40)}));

// The splash's bar moves by the percentage the caller is told.
TEST(ProgressBar, AQuarterIsToldAs25) {
  static int told = -1;
  DownloadRequest request{"", "", DownloadKind::Archive, [](int percent) { told = percent; }};
  testing::internal::CaptureStdout();
  progress_func(&request, 400, 100, 0, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(told, 25);
}

}  // namespace
}  // namespace velmoran
