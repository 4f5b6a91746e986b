#include "launcher/dynamic_params.h"

#include <cinttypes>

#include "launcher/tail.h"
#include "util/fields.h"
#include "util/log.h"

namespace velmoran {
namespace {

constexpr const char* kPlusLine = "++++++++++++++++++++++++++++++++++++++++++++++++\n";

void logPair(int64_t index, const std::string& name, const std::string& value) {
  if (value.size() <= 100) {
    logMessage("[DynProps] Dynamic Param %d: %s=[%s]\n", static_cast<int>(index), name.c_str(),
               value.c_str());
  } else {
    logMessage("[DynProps] Dynamic Param %d: %s=[%.99s...]\n", static_cast<int>(index),
               name.c_str(), value.c_str());
  }
}

}  // namespace

DynamicParams readDynamicParams(FILE* stream, PropertiesBlock& properties) {
  DynamicParams params;
  logMessage("[Extractor] Found Params marker. Extracting now...\n");
  const int64_t count = readInt(stream, "Params Count");
  logMessage("\n");
  logMessage("%s", kPlusLine);
  logMessage("+++ Processing %d dynamic properties\n", static_cast<int>(count));
  logMessage("%s", kPlusLine);

  for (int64_t i = 0; i < count; ++i) {
    // A count larger than the file holds would otherwise spin on empty pairs
    // for as long as the count says; the pair that ran into the end is kept.
    if (std::feof(stream)) {
      logMessage("[DynProps] Params Count %" PRId64 " exceeds the section; stopping after %" PRId64
                 " pairs\n",
                 count, i);
      break;
    }
    const std::string name = readString(stream, "Param Name", kParamNameSize);
    const std::string value = readString(stream, "Param Value", kParamValueSize);
    logPair(i, name, value);
    addDynamicProperty(properties, name, value);
  }
  logEndSection("Processing dynamic properties\n");
  return params;
}

}  // namespace velmoran
