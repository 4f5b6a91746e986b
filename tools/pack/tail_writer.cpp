#include "tail_writer.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "archive/container.h"
#include "cli.h"
#include "format/names.h"
#include "util/encoding.h"
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

void checkComponentName(const std::string& what, const std::string& name) {
  if (const auto fault = componentNameFault(name)) usage(what + " '" + name.substr(0, 60) + "' is refused: " + *fault);
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

Bytes buildParamsArea(const std::vector<Param>& params) {
  Bytes area;
  appendField(area, std::to_string(params.size()));
  for (const auto& [name, value] : params) {
    checkFieldFits("parameter name '" + name.substr(0, 40) + "'", name, kParamNameSize);
    checkFieldFits("value of parameter '" + name + "'", value, kParamValueSize);
    // The launcher takes jre_name as the JRE's component name.
    if (name == "jre_name") checkComponentName("JRE name (parameter jre_name)", value);
    // The launcher decodes splash_image without skipping line breaks; any text
    // that is not plain Base64 leaves it with no image or a garbled one.
    if (name == "splash_image" && !isPlainBase64(value)) {
      usage("parameter splash_image must be Base64 on one line (as 'base64 -w0' writes it)");
    }
    appendField(area, name);
    appendField(area, value);
  }
  if (area.size() > kParamsAreaSize) {
    usage("the parameters take " + std::to_string(area.size()) + " bytes; the Params area holds " +
         std::to_string(kParamsAreaSize));
  }
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
