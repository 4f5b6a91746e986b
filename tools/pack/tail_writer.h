// Writing the pieces of a wrapper tail: text fields, entry records and the
// fixed-size Params area.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/tail.h"

namespace velmoran::pack {

using Bytes = std::vector<unsigned char>;

// The builder refuses a field that the reader would not take back whole: the
// reader keeps at most size - 2 characters without shifting the next field.
// The message that says why, if it would not.
std::optional<std::string> fieldFault(const std::string& what, const std::string& value, std::size_t readerSize);
// The same with the longest value that reads back whole given directly.
std::optional<std::string> lengthFault(const std::string& what, const std::string& value, std::size_t maxLength);
// The same refusals as usage errors: the values come from the command line.
void checkFieldFits(const std::string& what, const std::string& value, std::size_t readerSize);
void checkFieldLength(const std::string& what, const std::string& value, std::size_t maxLength);

void appendField(Bytes& out, const std::string& text);
// An archive entry's header: type, path, and unless it is a folder the
// length. Refuses (usage) a path the launcher would not read back whole;
// paths found in a folder tree are checked with fieldFault before.
void appendEntryHeader(Bytes& out, long type, const std::string& path, int64_t length);
// One entry record: the header and, unless it is a folder, the data.
void appendEntry(Bytes& out, long type, const std::string& path, std::span<const unsigned char> data);

// The Params section's text: the count and the pairs.
Bytes paramsBytes(const std::vector<Param>& params);
// The Params area: that text NUL-padded to the area's fixed size. The pairs
// are to have passed paramsFaults (launcher_rules.h), the rules that keep
// them readable and within the area.
Bytes buildParamsArea(const std::vector<Param>& params);
// Reads the pairs back out of a Params area.
std::vector<Param> parseParamsArea(std::span<const unsigned char> area);

}  // namespace velmoran::pack
