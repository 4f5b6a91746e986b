#include "format/install_type.h"

namespace velmoran {

InstallType installTypeOf(std::string_view field) {
  if (field == "perm_all") return InstallType::PermAll;
  if (field == "perm_user") return InstallType::PermUser;
  return InstallType::Temporary;
}

std::optional<InstallType> parseInstallTypeName(std::string_view name) {
  if (name != "perm_all" && name != "perm_user" && name != "temporary") return std::nullopt;
  return installTypeOf(name);
}

const char* installTypeName(InstallType type) {
  switch (type) {
    case InstallType::PermAll: return "perm_all";
    case InstallType::PermUser: return "perm_user";
    case InstallType::Temporary: break;
  }
  return "temporary";
}

std::string sharedDirectoryOf(InstallType type, const std::string& home) {
  return installsForAllUsers(type) ? "/opt" : home + "/.Velmoran";
}

bool installsForAllUsers(InstallType type) { return type == InstallType::PermAll; }

mode_t installModeOf(InstallType type) { return installsForAllUsers(type) ? 0777 : 0755; }

const char* installTypeRecord(InstallType type) {
  switch (type) {
    case InstallType::PermAll: return "Permanent install for all users\n";
    case InstallType::PermUser: return "Permanent install for current user\n";
    case InstallType::Temporary: break;
  }
  return "Temporary install\n";
}

}  // namespace velmoran
