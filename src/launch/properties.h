// The properties block that collects what the launcher hands to the Java
// program, and the launch properties file it is written to.
#pragma once

#include <string>
#include <string_view>

#include "util/status.h"

namespace velmoran {

// Entries separated by one NUL and ended by two; an empty text is stored as
// the single byte 0x04 so no entry is ever empty. The block grows as needed.
class PropertiesBlock {
 public:
  // Everything before the terminator.
  const std::string& content() const { return content_; }
  // The block as stored: the content followed by two NUL bytes.
  std::string bytes() const { return content_ + std::string(2, '\0'); }

 private:
  friend void appendProp(PropertiesBlock&, std::string_view);
  friend void extendProp(PropertiesBlock&, std::string_view);
  std::string content_;
};

constexpr char kEmptyValueMark = '\x04';

int propsLen(const PropertiesBlock& block);
// Appends a new entry (text up to its first NUL, or the empty-value mark).
void appendProp(PropertiesBlock& block, std::string_view text);
// Appends text to the last entry.
void extendProp(PropertiesBlock& block, std::string_view text);
void addStaticProperty(PropertiesBlock& block, std::string_view name, std::string_view value);
void addDynamicProperty(PropertiesBlock& block, std::string_view name, std::string_view value);

// folder joined with "VLLaunchProperties-<ms since epoch>-<entries in folder>".
std::string makeLaunchPropertiesFile(const std::string& folder);

// Writes the block's content into a new launch properties file in appDir and
// returns its path. Retries five times with new names; then a failure with
// status 99. Of the launch properties files in appDir it keeps the newest 5
// (this one among them) and removes the others.
Result<std::string> writeLaunchPropertiesFile(const PropertiesBlock& block, const std::string& appDir);

}  // namespace velmoran
