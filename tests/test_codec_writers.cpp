// The codec's two writers, ours and the reference, make the same file for the
// same pixels, with and without kept metadata: what a call writes does not
// depend on the writer.
#include <gtest/gtest.h>

#include <vector>

#include "codec.h"
#include "support.h"

using namespace vt;

namespace {

std::vector<unsigned char> encode(velmora::ImageFormat format, const Picture &pic,
                                  const velmora::Metadata *meta, velmora::Writer writer) {
    velmora::OutputStream out;
    const int ok = velmora::encode_to_stream(
        format, pic.width, pic.height, reinterpret_cast<const unsigned char *>(pic.px.data()), out,
        meta, writer);
    EXPECT_EQ(ok, 1);
    return std::vector<unsigned char>(out.data(), out.data() + out.size());
}

TEST(CodecWriters, OursAndTheReferenceWriteTheSameFile) {
    velmora::Metadata meta;
    meta.orientation = 6;
    meta.has_resolution = true;
    meta.resolution = velmora::Resolution{300, 1, 300, 1, velmora::UNIT_INCH};
    meta.icc.assign(600, 7);
    meta.icc[0] = 0, meta.icc[1] = 0, meta.icc[2] = 2, meta.icc[3] = 0x58;
    for (const Picture &pic : {gradient(1, 1), gradient(67, 45), gradient(300, 2)})
        for (velmora::ImageFormat format :
             {velmora::FORMAT_PNG, velmora::FORMAT_JPEG, velmora::FORMAT_BMP})
            for (const velmora::Metadata *m : {static_cast<const velmora::Metadata *>(nullptr),
                                               static_cast<const velmora::Metadata *>(&meta)}) {
                SCOPED_TRACE(std::to_string(pic.width) + "x" + std::to_string(pic.height) +
                             " format " + std::to_string(format) + (m ? " with" : " without"));
                EXPECT_EQ(encode(format, pic, m, velmora::Writer::fast),
                          encode(format, pic, m, velmora::Writer::reference));
            }
}

}  // namespace
