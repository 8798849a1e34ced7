// The kernel table against the list of adjustments, and every listed kernel's
// fast pass against its scalar reference with the list's example and neutral
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

class ListedKernel : public testing::TestWithParam<int> {};

TEST_P(ListedKernel, FastPassEqualsTheScalarReference) {
    const KernelEntry &kernel = kKernels[GetParam()];
    const velmora_list::Adjustment &adj = velmora_list::kAdjustments[GetParam()];
    for (const velmora_list::Values &values :
         {velmora_list::example_values(adj), velmora_list::neutral_values(adj)}) {
        const auto run = [&](Image &img, Impl impl) { return kernel.run(img, values, impl); };
        EXPECT_TRUE(same_bytes(every_level(), run));
        // A sample of the cube: every 4099th colour, in a row of odd length.
        Pixels cube(4093, 1);
        for (uint32_t k = 0; k < 4093; ++k) {
            const uint32_t c = k * 4099u;
            cube.set(k, (c >> 16) & 255, (c >> 8) & 255, c & 255, k & 255);
        }
        EXPECT_TRUE(same_bytes(cube, run));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryAdjustment, ListedKernel,
                         testing::Range(0, velmora_list::kAdjustmentCount),
                         [](const testing::TestParamInfo<int> &info) {
                             return std::string(kKernels[info.param].name);
                         });

}  // namespace
