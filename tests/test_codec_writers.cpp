// The codec's two writers, ours and the reference, make the same file for the
// same pixels, with and without kept metadata: what a call writes does not
// depend on the writer, nor on whether the pixels come whole or a band at a
// time, nor on where the stream goes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "band_rows.h"
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

namespace {

// Noise: the PNG writer finds compressing does not pay and stores the rows.
Picture noise(int width, int height) {
    Picture pic = gradient(width, height);
    uint32_t s = uint32_t(width * 31 + height);
    for (auto &px : pic.px) {
        s = s * 1664525u + 1013904223u;
        px = Rgba{uint8_t(s >> 8), uint8_t(s >> 16), uint8_t(s >> 24), uint8_t(s >> 4)};
    }
    return pic;
}

velmora::Metadata some_metadata() {
    velmora::Metadata meta;
    meta.orientation = 3;
    meta.has_resolution = true;
    meta.resolution = velmora::Resolution{72, 1, 96, 1, velmora::UNIT_INCH};
    meta.icc.assign(300, 5);
    meta.icc[0] = 0, meta.icc[1] = 0, meta.icc[2] = 1, meta.icc[3] = 0x2C;
    return meta;
}

// Where encode_to_stream writes: in memory; through a small stage to a sink
// that can patch and cut (the IDAT's length is patched in the sink, past the
// metadata); to one that cannot (the stream is held).
enum class Stream { memory, patching_sink, plain_sink };

std::vector<unsigned char> encode_rows(velmora::ImageFormat format, const Picture &pic,
                                       const velmora::Metadata *meta, velmora::Writer writer,
                                       Stream stream) {
    std::vector<unsigned char> sunk;
    std::unique_ptr<velmora::OutputStream> out;
    switch (stream) {
    case Stream::memory: out.reset(new velmora::OutputStream()); break;
    case Stream::patching_sink:
        out.reset(new velmora::OutputStream(64, velmora::append_to_vector, velmora::patch_vector,
                                            velmora::truncate_vector, &sunk));
        break;
    case Stream::plain_sink:
        out.reset(new velmora::OutputStream(64, velmora::append_to_vector, &sunk));
        break;
    }
    BandRows rows(reinterpret_cast<const uint8_t *>(pic.px.data()), pic.width, pic.height);
    EXPECT_EQ(velmora::encode_to_stream(format, pic.width, pic.height, rows, *out, meta, writer), 1);
    EXPECT_TRUE(out->flush());
    if (stream == Stream::memory) return std::vector<unsigned char>(out->data(), out->data() + out->size());
    return sunk;
}

TEST(CodecWriters, RowsGiveTheFileOfThePixelsWhereverTheyGo) {
    const velmora::Metadata meta = some_metadata();
    for (const Picture &pic : {gradient(1, 1), gradient(67, 45), noise(1, 1), noise(90, 70)})
        for (velmora::ImageFormat format :
             {velmora::FORMAT_PNG, velmora::FORMAT_JPEG, velmora::FORMAT_BMP})
            for (const velmora::Metadata *m : {static_cast<const velmora::Metadata *>(nullptr),
                                               static_cast<const velmora::Metadata *>(&meta)}) {
                const auto want = encode(format, pic, m, velmora::Writer::reference);
                for (velmora::Writer writer : {velmora::Writer::fast, velmora::Writer::reference})
                    for (Stream stream : {Stream::memory, Stream::patching_sink, Stream::plain_sink}) {
                        SCOPED_TRACE(std::to_string(pic.width) + "x" + std::to_string(pic.height) +
                                     " format " + std::to_string(format) +
                                     (m ? " with" : " without") + " writer " +
                                     std::to_string(int(writer)) + " stream " +
                                     std::to_string(int(stream)));
                        EXPECT_TRUE(encode_rows(format, pic, m, writer, stream) == want);
                    }
            }
}

TEST(CodecWriters, ASourceThatFailsFailsTheEncoding) {
    const Picture pic = noise(40, 20);
    for (velmora::ImageFormat format : {velmora::FORMAT_PNG, velmora::FORMAT_JPEG, velmora::FORMAT_BMP})
        for (velmora::Writer writer : {velmora::Writer::fast, velmora::Writer::reference}) {
            velmora::OutputStream out;
            BandRows rows(reinterpret_cast<const uint8_t *>(pic.px.data()), pic.width, pic.height);
            rows.fail_at = 10;
            EXPECT_EQ(velmora::encode_to_stream(format, pic.width, pic.height, rows, out, nullptr, writer), 0)
                << format << " " << int(writer);
        }
}

// A PNG written to a file: its IDAT length patched in the file, and, for
// noise, the file cut back to the IDAT and the rows stored.
TEST(CodecWriters, PngIntoAFileIsPatchedAndCutInPlace) {
    const velmora::Metadata meta = some_metadata();
    // Larger than the file's stage, so that the patch and the cut reach bytes
    // already in the file.
    for (const Picture &pic : {gradient(700, 500), noise(400, 300)}) {
        struct Job {
            const Picture *pic;
            const velmora::Metadata *meta;
        } job{&pic, &meta};
        Sandbox box;
        const std::string path = box.path("out.png");
        const velmora::Producer produce = [](velmora::OutputStream &out, void *context) {
            const Job &j = *static_cast<const Job *>(context);
            BandRows rows(reinterpret_cast<const uint8_t *>(j.pic->px.data()), j.pic->width,
                          j.pic->height);
            return velmora::encode_to_stream(velmora::FORMAT_PNG, j.pic->width, j.pic->height, rows,
                                             out, j.meta);
        };
        ASSERT_EQ(velmora::write_file_safely(path.c_str(), produce, &job), 1);
        EXPECT_TRUE(read_bytes(path) ==
                    encode(velmora::FORMAT_PNG, pic, &meta, velmora::Writer::reference))
            << pic.width << "x" << pic.height;
    }
}

}  // namespace
