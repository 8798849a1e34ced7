// The colour model's probe eight lanes wide. Compiled for AVX2 as a whole and
// called only where the processor has it; nothing else is in this unit.
#include "colour_lanes_probe.h"
#include "lanes_avx2.h"

namespace vk {

const LaneProbe &avx2_lane_probe() {
    static constexpr LaneProbe probe = ProbeOf<velmora::Avx2Lanes>::probe;
    return probe;
}

}  // namespace vk
