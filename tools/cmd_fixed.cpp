#include "commands.h"
#include "velmora.h"

namespace velmora_cli {

void add_fixed_commands(Registry &r) {
    r.add("grayscale", "Grey from BT.601 luma", velmora_grayscale);
    r.add("sepia", "Warm brown tone through a fixed colour matrix", velmora_sepia);
    r.add("invert", "Photographic negative (255 - value)", velmora_invert);
}

}  // namespace velmora_cli
