// The install type of the tail header: where a launcher file installs, and
// who may write there. The launcher, the builder and check read it here.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace velmoran {

enum class InstallType {
  PermAll,    // "perm_all": /opt, shared by every user of the machine
  PermUser,   // "perm_user": the user's home
  Temporary,  // "temporary", and any other text: the user's home too
};

// How the launcher reads the header's field: any text it does not know is a
// temporary install, as it always has been.
InstallType installTypeOf(std::string_view field);

// The builder's reading: only the three names; none for anything else.
std::optional<InstallType> parseInstallTypeName(std::string_view name);
const char* installTypeName(InstallType type);
// "perm_all, perm_user or temporary", for messages.
constexpr const char* kInstallTypeNames = "perm_all, perm_user or temporary";

// The folder the master folders of this type lie in: "/opt", or home
// followed by "/.Velmoran" (a plain append: a home of "/" gives "//.Velmoran").
std::string sharedDirectoryOf(InstallType type, const std::string& home);
bool installsForAllUsers(InstallType type);

// The mode of the folders made and the programs marked executable: 0777 for
// an install every user shares, 0755 for one user's own.
mode_t installModeOf(InstallType type);

// The record that names the type ("Permanent install for all users", ...).
const char* installTypeRecord(InstallType type);

}  // namespace velmoran
