// The commands of velmoran-pack, each defined in its own file. The table is
// spelled out rather than filled by static registration objects, which the
// linker would leave out of a static library as nothing refers to them.
#pragma once

#include <span>

#include "cli.h"

namespace velmoran::pack {

extern const Command kKeygenCommand;
extern const Command kAppCommand;
extern const Command kArchiveCommand;
extern const Command kLaunchfileCommand;
extern const Command kLsoCommand;
extern const Command kLauncherCommand;
extern const Command kParamsCommand;
extern const Command kCheckCommand;
extern const Command kInspectCommand;
extern const Command kSignCommand;
extern const Command kVerifyCommand;
extern const Command kHashCommand;

// Every command, in the order of the work, as --help lists them.
std::span<const Command* const> commands();

}  // namespace velmoran::pack
