// The adjustments' subcommands, made from the list of adjustments.
#ifndef VELMORA_TOOLS_COMMANDS_H
#define VELMORA_TOOLS_COMMANDS_H

#include "registry.h"

namespace velmora_cli {

// A subcommand for every adjustment of the list.
void add_adjustment_commands(Registry &registry);

}  // namespace velmora_cli

#endif
