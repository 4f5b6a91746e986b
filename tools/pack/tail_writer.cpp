#include "tail_writer.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "archive/container.h"
#include "cli.h"
#include "util/paths.h"

namespace velmoran::pack {

std::optional<std::string> fieldFault(const std::string& what, const std::string& value, std::size_t readerSize) {
  return lengthFault(what, value, readerSize - 2);
}

std::optional<std::string> lengthFault(const std::string& what, const std::string& value, std::size_t maxLength) {
  if (value.find('\0') != std::string::npos) return what + " must not contain a NUL byte";
  if (value.size() > maxLength) {
    return what + " is " + std::to_string(value.size()) + " characters long; the launcher reads at most " +
           std::to_string(maxLength);
  }
  return std::nullopt;
}

void checkFieldFits(const std::string& what, const std::string& value, std::size_t readerSize) {
  if (const auto fault = fieldFault(what, value, readerSize)) usage(*fault);
}

void checkFieldLength(const std::string& what, const std::string& value, std::size_t maxLength) {
  if (const auto fault = lengthFault(what, value, maxLength)) usage(*fault);
}

void appendField(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back('\0');
}

void appendEntryHeader(Bytes& out, long type, const std::string& path, int64_t length) {
  checkFieldFits("the path " + path.substr(0, 60), path, kEntryPathSize);
  appendField(out, std::to_string(type));
  appendField(out, path);
  if (type != kEntryFolder) appendField(out, std::to_string(length));
}

void appendEntry(Bytes& out, long type, const std::string& path, std::span<const unsigned char> data) {
  appendEntryHeader(out, type, path, static_cast<int64_t>(data.size()));
  if (type != kEntryFolder) out.insert(out.end(), data.begin(), data.end());
}

Bytes paramsBytes(const std::vector<Param>& params) {
  Bytes bytes;
  appendField(bytes, std::to_string(params.size()));
  for (const auto& [name, value] : params) {
    appendField(bytes, name);
    appendField(bytes, value);
  }
  return bytes;
}

Bytes buildParamsArea(const std::vector<Param>& params) {
  Bytes area = paramsBytes(params);
  // Never cut short: that would lose the last pairs without a word.
  if (area.size() > kParamsAreaSize) fail("the parameters do not fit the Params area");
  area.resize(kParamsAreaSize, '\0');
  return area;
}

std::vector<Param> parseParamsArea(std::span<const unsigned char> area) {
  // The same readers the launcher uses, over the area in memory.
  FILE* stream = fmemopen(const_cast<unsigned char*>(area.data()), area.size(), "rb");
  if (stream == nullptr) fail("cannot read the Params area");
  std::vector<Param> params;
  const int64_t count = readParamsCount(stream);
  for (int64_t i = 0; i < count && !std::feof(stream); ++i) params.push_back(readParam(stream));
  std::fclose(stream);
  return params;
}

}  // namespace velmoran::pack
