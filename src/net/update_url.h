// The update URL that means "no update server", shared by the builder, which
// writes it, and the launcher, which recognises it. Free of libcurl.
#pragma once

#include <string>
#include <string_view>

namespace velmoran {

// What the builder writes as the update URL (followed by "/") when none is
// configured; any URL starting with it means there is no update server.
constexpr std::string_view kPlaceholderUpdateUrl = "http://127.0.0.255";

// True for an empty URL and for one that starts with the placeholder.
bool isInvalidUpdateURL(std::string_view url);

// The names under the update URL: a component's version file, and the
// archive of one of its versions.
std::string versionFileName(std::string_view component);
std::string archiveFileName(std::string_view component, std::string_view version);

}  // namespace velmoran
