#include "commands.h"

namespace velmoran::pack {

std::span<const Command* const> commands() {
  static constexpr const Command* kAll[] = {
      &kKeygenCommand, &kAppCommand,     &kArchiveCommand, &kLaunchfileCommand, &kLsoCommand,    &kLauncherCommand,
      &kParamsCommand, &kCheckCommand,   &kInspectCommand, &kSignCommand,       &kVerifyCommand, &kHashCommand,
  };
  return kAll;
}

}  // namespace velmoran::pack
