// The kernel table against the list of adjustments, and every listed kernel's
// fast passes against its scalar reference with the list's example and neutral
// values, on every level and on a sample of the colour cube.
#include <gtest/gtest.h>

#include <string>

#include "kernel_compare.h"
#include "kernel_table.h"

using namespace vk;
using namespace velmora;

namespace {

TEST(KernelTable, NamesEveryListedAdjustmentInOrder) {
    ASSERT_EQ(std::size(kKernels), size_t(velmora_list::kAdjustmentCount));
    for (int k = 0; k < velmora_list::kAdjustmentCount; ++k)
        EXPECT_STREQ(kKernels[k].name, velmora_list::kAdjustments[k].name);
}

class ListedKernel : public EachFastPass<int> {};

TEST_P(ListedKernel, FastPassEqualsTheScalarReference) {
    const KernelEntry &kernel = kKernels[param()];
    const velmora_list::Adjustment &adj = velmora_list::kAdjustments[param()];
    for (const velmora_list::Values &values :
         {velmora_list::example_values(adj), velmora_list::neutral_values(adj)}) {
        const auto run = [&](Image &img, Isa isa) { return kernel.run(img, values, isa); };
        EXPECT_TRUE(same_bytes(every_level(), run, fast()));
        // A sample of the cube: every 4099th colour, in a row of odd length.
        Pixels cube(4093, 1);
        for (uint32_t k = 0; k < 4093; ++k) {
            const uint32_t c = k * 4099u;
            cube.set(k, (c >> 16) & 255, (c >> 8) & 255, c & 255, k & 255);
        }
        EXPECT_TRUE(same_bytes(cube, run, fast()));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryAdjustment, ListedKernel,
                         testing::Combine(testing::ValuesIn(kFastIsas),
                                          testing::Range(0, velmora_list::kAdjustmentCount)),
                         pass_and<int>([](int k) { return kKernels[k].name; }));

}  // namespace
