// Files that come with velmoran-pack: the launcher program and lzma64 beside
// it, and in share/velmoran the updater's jar and the default splash image,
// both where the build tree has them and where an install puts them.
#pragma once

#include <string>

namespace velmoran::pack {

// The folder velmoran-pack runs from.
std::string toolFolder();

// A program that comes with the tool (velmoran-launcher, lzma64): beside it.
// Fails with a message naming the option that gives it instead.
std::string bundledProgram(const std::string& name, const std::string& option);

// A data file that comes with the tool (velmoran-updater.jar, splash.png):
// share/velmoran beside the tool (the build tree) or above it (an install).
std::string bundledData(const std::string& name, const std::string& option);

}  // namespace velmoran::pack
