// What app turns its shipping options into: JVM options for the launch
// files, the menu entry's parameters, and outputs proven writable before
// the long steps.
#pragma once

#include <string>

namespace velmoran::pack {

// A JVM option as java takes it in one argument. "--add-opens M/P=T" (a long
// option and its value in one text) becomes "--add-opens=M/P=T"; the class
// path and the main class are app's to give, so -cp, -classpath,
// --class-path, -jar, -m and --module are refused (usage), as is a text that
// does not start with "-" or is empty.
std::string jvmOptionOf(const std::string& text);

// "NAME=VALUE" as the JVM option -DNAME=VALUE; a text without a name before
// its "=" is refused (usage).
std::string javaPropertyOption(const std::string& text);

// A menu entry's Categories value: names of letters, digits and "-",
// separated by ";" or ",", written with a ";" after each. Refuses (usage) an
// empty list and any other character, which a desktop file would misread.
std::string desktopCategoriesOf(const std::string& list);

// Fails at once, naming option, when path cannot be written: a folder, a
// missing or read-only folder to write it in, or an existing file that is
// not a regular one and cannot be opened for writing. The folder is probed
// by making and removing a file in it, so a read-only file system counts.
void checkWritableOutput(const std::string& path, const std::string& option);

// The same for a folder app writes files into: it exists and takes new
// files, or its parent does (app makes it).
void checkWritableFolder(const std::string& folder, const std::string& option);

}  // namespace velmoran::pack
