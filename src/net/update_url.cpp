#include "net/update_url.h"

namespace velmoran {

bool isInvalidUpdateURL(std::string_view url) {
  return url.empty() || url.starts_with(kPlaceholderUpdateUrl);
}

}  // namespace velmoran
