// The update URL that means "no update server", shared by the builder, which
// writes it, and the launcher, which recognises it. Free of libcurl.
#pragma once

#include <string_view>

namespace velmoran {

// What the builder writes as the update URL (followed by "/") when none is
// configured; any URL starting with it means there is no update server.
constexpr std::string_view kPlaceholderUpdateUrl = "http://127.0.0.255";

// True for an empty URL and for one that starts with the placeholder.
bool isInvalidUpdateURL(std::string_view url);

}  // namespace velmoran
