#include "net/update_url.h"

namespace velmoran {

bool isInvalidUpdateURL(std::string_view url) {
  return url.empty() || url.starts_with(kPlaceholderUpdateUrl);
}

std::string versionFileName(std::string_view component) {
  return "Velmoran-" + std::string(component) + "-version.txt";
}

std::string archiveFileName(std::string_view component, std::string_view version) {
  return "Velmoran-" + std::string(component) + "-" + std::string(version) + "-archive.p2.l2";
}

}  // namespace velmoran
