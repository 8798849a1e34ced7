// The pipeline: last-error states, the pipeline's file cases and messages, the
// choice of output format, and writes that never destroy an existing file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "support.h"
#include "velmora.h"

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace vt;

namespace {

const Picture kSmall = gradient(5, 3);

int fail_once() { return velmora_invert("no-such-file.png", "out.png"); }

// ---- last-error text ---------------------------------------------------------

TEST(LastError, SuccessEmptiesTheText) {
    Sandbox box;
    write_png(box.path("a.png"), kSmall);
    ASSERT_EQ(fail_once(), 0);
    ASSERT_NE(last_error(), "");
    EXPECT_EQ(velmora_sepia(box.path("a.png").c_str(), box.path("b.png").c_str()), 1);
    EXPECT_EQ(last_error(), "");
}

TEST(LastError, InitAndCleanupEmptyTheText) {
    ASSERT_EQ(fail_once(), 0);
    EXPECT_EQ(velmora_init(), 1);
    EXPECT_EQ(last_error(), "");
    ASSERT_EQ(fail_once(), 0);
    velmora_cleanup();
    EXPECT_EQ(last_error(), "");
    velmora_cleanup();
    EXPECT_EQ(velmora_init(), 1);
}

TEST(LastError, LibraryWorksAfterCleanup) {
    Sandbox box;
    write_png(box.path("a.png"), kSmall);
    velmora_cleanup();
    EXPECT_EQ(velmora_invert(box.path("a.png").c_str(), box.path("b.png").c_str()), 1);
}

TEST(LastError, SecondFailureReplacesTheFirst) {
    ASSERT_EQ(velmora_sepia("first-missing.png", "o.png"), 0);
    ASSERT_EQ(velmora_grayscale(nullptr, "o.png"), 0);
    EXPECT_EQ(last_error(), "grayscale: NULL input/output");
}

TEST(LastError, PointerIsStableAndShowsCurrentText) {
    const char *p = velmora_last_error();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(velmora_invert(nullptr, nullptr), 0);
    EXPECT_EQ(velmora_last_error(), p);
    EXPECT_STREQ(p, "invert: NULL input/output");
    velmora_init();
    EXPECT_EQ(velmora_last_error(), p);
    EXPECT_STREQ(p, "");
}

TEST(LastError, IsOneBufferForTheWholeProcess) {
    // A failure on another thread is what this thread reads next: one text
    // per process, not per thread.
    ASSERT_EQ(velmora_init(), 1);
    std::thread([] { velmora_sepia("no-such-file.png", "out.png"); }).join();
    EXPECT_STREQ(velmora_last_error(), "sepia: cannot read no-such-file.png");
    std::thread([] { velmora_init(); }).join();
    EXPECT_STREQ(velmora_last_error(), "");
}

TEST(LastError, LongMessageIsCutAt511Characters) {
    const std::string path(600, 'x');
    ASSERT_EQ(velmora_sepia(path.c_str(), "o.png"), 0);
    const char *msg = velmora_last_error();
    EXPECT_EQ(std::strlen(msg), 511u);
    EXPECT_EQ(std::string(msg), ("sepia: cannot read " + path).substr(0, 511));
}

// ---- read, detect, decode ----------------------------------------------------

struct BadFile {
    const char *label;
    std::vector<uint8_t> bytes;  // empty vector and `missing` => no file at all
    bool missing;
    const char *message;  // %s stands for the input path
};

std::string fill(const char *shape, const std::string &path) {
    std::string s = shape;
    size_t at = s.find("%s");
    return at == std::string::npos ? s : s.replace(at, 2, path);
}

TEST(Pipeline, BadInputsGiveTheirMessageAndNoOutput) {
    const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,
                                      0,   0,   0,   0xFF, 0xFF, 0xFF, 0x2C, 0, 0, 0, 0, 1,
                                      0,   1,   0,   0, 2, 2, 0x44, 0x01, 0, 0x3B};
    const BadFile cases[] = {
        {"missing file", {}, true, "invert: cannot read %s"},
        {"empty file", {}, false, "invert: cannot read %s"},
        {"one byte", {0xFF}, false, "invert: unsupported image format: %s"},
        {"7-byte PNG signature", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, false,
         "invert: unsupported image format: %s"},
        {"8-byte PNG signature", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, false,
         "invert: cannot decode %s (first not IHDR)"},
        {"89 then not PNG", {0x89, 'P', 'N', 'X', 0x0D, 0x0A, 0x1A, 0x0A}, false,
         "invert: unsupported image format: %s"},
        {"FF not followed by D8", {0xFF, 0xD9, 0, 0}, false,
         "invert: unsupported image format: %s"},
        {"two bytes BM", {'B', 'M'}, false, "invert: cannot decode %s (unknown image type)"},
        {"a GIF", gif, false, "invert: unsupported image format: %s"},
        {"text", {'h', 'e', 'l', 'l', 'o'}, false, "invert: unsupported image format: %s"},
    };
    for (const BadFile &c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox box;
        const std::string in = box.path("input.img"), out = box.path("out.png");
        if (!c.missing) write_bytes(in, c.bytes);
        EXPECT_EQ(velmora_invert(in.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), fill(c.message, in));
        EXPECT_FALSE(file_exists(out));
    }
}

TEST(Pipeline, ADirectoryCannotBeRead) {
    Sandbox box;
    EXPECT_EQ(velmora_sepia(box.dir().c_str(), box.path("o.png").c_str()), 0);
    EXPECT_EQ(last_error(), "sepia: cannot read " + box.dir());
}

TEST(Pipeline, EveryInputFormatIsRead) {
    Sandbox box;
    const Picture pic = filled(4, 4, rgb(10, 200, 30));
    write_png(box.path("a.png"), pic, 3);
    write_bmp(box.path("a.bmp"), pic, 3);
    write_jpg(box.path("a.jpg"), pic);
    for (const char *name : {"a.png", "a.bmp", "a.jpg"}) {
        SCOPED_TRACE(name);
        const std::string out = box.path(std::string(name) + ".out.png");
        ASSERT_EQ(velmora_invert(box.path(name).c_str(), out.c_str()), 1) << last_error();
        Picture got = read_picture(out);
        ASSERT_EQ(got.px.size(), 16u);
        EXPECT_NEAR(got.px[5].r, 245, 3);
        EXPECT_NEAR(got.px[5].g, 55, 3);
        EXPECT_NEAR(got.px[5].b, 225, 3);
        EXPECT_EQ(got.px[5].a, 255);
    }
}

TEST(Pipeline, GreyPngBecomesFourEqualChannels) {
    Sandbox box;
    const Picture pic = row_of({rgb(0, 0, 0), rgb(77, 77, 77), rgb(255, 255, 255)});
    write_png(box.path("grey.png"), pic, 1);
    ASSERT_EQ(velmora_invert(box.path("grey.png").c_str(), box.path("o.png").c_str()), 1);
    const Picture got = read_picture(box.path("o.png"));
    EXPECT_EQ(got.px, (std::vector<Rgba>{rgb(255, 255, 255), rgb(178, 178, 178), rgb(0, 0, 0)}));
}

TEST(Pipeline, AlphaIsKeptInPngAndBmpAndDroppedInJpeg) {
    Sandbox box;
    const Picture pic =
        row_of({rgb(10, 20, 30, 0), rgb(40, 50, 60, 128), rgb(70, 80, 90, 255)});
    write_png(box.path("a.png"), pic, 4);
    for (const char *out : {"o.png", "o.bmp"}) {
        ASSERT_EQ(velmora_invert(box.path("a.png").c_str(), box.path(out).c_str()), 1);
        const Picture got = read_picture(box.path(out));
        EXPECT_EQ(got.px, (std::vector<Rgba>{rgb(245, 235, 225, 0), rgb(215, 205, 195, 128),
                                              rgb(185, 175, 165, 255)}))
            << out;
    }
    ASSERT_EQ(velmora_invert(box.path("a.png").c_str(), box.path("o.jpg").c_str()), 1);
    for (const Rgba &c : read_picture(box.path("o.jpg")).px) EXPECT_EQ(c.a, 255);
}

// ---- output format -----------------------------------------------------------

struct Extension {
    const char *output;  // relative to the sandbox
    const char *format;  // expected format of the written file
};

TEST(OutputFormat, ExtensionChoosesTheWriterElseTheInputFormatStays) {
    const Extension cases[] = {
        {"o.jpg", "jpg"},   {"o.JPEG", "jpg"},  {"o.jpeg", "jpg"},  {"o.Png", "png"},
        {"o.BMP", "bmp"},   {"o.bmp", "bmp"},   {"noext", "bmp"},   {"trailing.", "bmp"},
        {"o.webp", "bmp"},  {"o.gif", "bmp"},   {"o.jpe", "bmp"},   {"o.jpegs", "bmp"},
        {"o.png ", "bmp"},  {"o.png.jpg", "jpg"}, {"photos.old/out", "bmp"},
    };
    Sandbox box;
    const std::string in = box.path("in.bmp");
    write_bmp(in, gradient(6, 4));
    std::filesystem::create_directory(box.path("photos.old"));
    for (const Extension &c : cases) {
        SCOPED_TRACE(c.output);
        const std::string out = box.path(c.output);
        ASSERT_EQ(velmora_sepia(in.c_str(), out.c_str()), 1) << last_error();
        EXPECT_EQ(sniff(out), c.format);
    }
}

TEST(OutputFormat, JpegInputStaysJpegWithoutExtension) {
    Sandbox box;
    write_jpg(box.path("in.jpg"), gradient(8, 8));
    ASSERT_EQ(velmora_grayscale(box.path("in.jpg").c_str(), box.path("out").c_str()), 1);
    EXPECT_EQ(sniff(box.path("out")), "jpg");
    ASSERT_EQ(velmora_grayscale(box.path("in.jpg").c_str(), box.path("out.png").c_str()), 1);
    EXPECT_EQ(sniff(box.path("out.png")), "png");
}

// ---- writing -----------------------------------------------------------------

TEST(Writing, SamePathInAndOutIsOverwritten) {
    Sandbox box;
    const std::string p = box.path("same.png");
    const Picture pic = gradient(7, 5);
    write_png(p, pic);
    ASSERT_EQ(velmora_invert(p.c_str(), p.c_str()), 1) << last_error();
    ASSERT_EQ(velmora_invert(p.c_str(), p.c_str()), 1) << last_error();
    EXPECT_EQ(read_picture(p).px, pic.px);
    EXPECT_EQ(box.entries(), std::vector<std::string>{"same.png"});
}

TEST(Writing, MissingDirectoryGivesTheWriteMessageAndNoFile) {
    Sandbox box;
    write_png(box.path("in.png"), kSmall);
    const std::string out = box.path("no/such/dir/out.png");
    EXPECT_EQ(velmora_sepia(box.path("in.png").c_str(), out.c_str()), 0);
    EXPECT_EQ(last_error(), "sepia: cannot write " + out);
    EXPECT_EQ(box.entries(), std::vector<std::string>{"in.png"});
}

TEST(Writing, ExistingOutputIsReplacedWithoutLeftovers) {
    Sandbox box;
    write_png(box.path("in.png"), kSmall);
    write_bytes(box.path("out.png"), {'o', 'l', 'd'});
    ASSERT_EQ(velmora_invert(box.path("in.png").c_str(), box.path("out.png").c_str()), 1);
    EXPECT_EQ(sniff(box.path("out.png")), "png");
    EXPECT_EQ(box.entries().size(), 2u);
}

// Outputs far larger than what the writer holds at a time: the PNG writer
// hands over its whole file at once, the JPEG writer a byte at a time. Both
// files must be exactly what the encoder makes of the adjusted pixels.
TEST(Writing, LargeOutputsArriveWhole) {
    Sandbox box;
    Picture noise = filled(700, 500, rgb(0, 0, 0));
    uint32_t state = 1;
    for (Rgba &c : noise.px) {
        state = state * 1664525u + 1013904223u;
        c = rgb(state >> 24, (state >> 16) & 255, (state >> 8) & 255, 255);
    }
    Picture inverted = noise;
    for (Rgba &c : inverted.px) c = rgb(255 - c.r, 255 - c.g, 255 - c.b, c.a);
    write_png(box.path("in.png"), noise);

    ASSERT_EQ(velmora_invert(box.path("in.png").c_str(), box.path("out.png").c_str()), 1)
        << last_error();
    EXPECT_GT(read_bytes(box.path("out.png")).size(), 1000000u);
    EXPECT_EQ(read_picture(box.path("out.png")).px, inverted.px);

    ASSERT_EQ(velmora_invert(box.path("in.png").c_str(), box.path("out.jpg").c_str()), 1)
        << last_error();
    write_jpg(box.path("expected.jpg"), inverted, 92);
    const std::vector<uint8_t> jpeg = read_bytes(box.path("out.jpg"));
    EXPECT_GT(jpeg.size(), 300000u);
    EXPECT_TRUE(jpeg == read_bytes(box.path("expected.jpg")));
}

#if !defined(_WIN32)
// Devices and links are written in place (renaming over them would replace
// the thing itself): a link keeps pointing at its file, which gets the output.
TEST(Writing, LinksAndDevicesAreWrittenInPlace) {
    Sandbox box;
    write_png(box.path("in.png"), kSmall);
    write_bytes(box.path("target.png"), {'o', 'l', 'd'});
    ASSERT_EQ(symlink("target.png", box.path("link.png").c_str()), 0);
    ASSERT_EQ(velmora_invert(box.path("in.png").c_str(), box.path("link.png").c_str()), 1)
        << last_error();
    struct stat st;
    ASSERT_EQ(lstat(box.path("link.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(sniff(box.path("target.png")), "png");
    EXPECT_EQ(read_picture(box.path("target.png")).px.size(), kSmall.px.size());

    EXPECT_EQ(velmora_invert(box.path("in.png").c_str(), "/dev/null"), 1) << last_error();
    auto names = box.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.png", "link.png", "target.png"}));
}

// A write that fails halfway (here: the file size limit, as a full disk would)
// must leave the existing output byte for byte as it was, and no stray file.
TEST(Writing, FailedWriteLeavesExistingFileIntact) {
    Sandbox box;
    const std::string in = box.path("big.png"), out = box.path("keep.bmp");
    write_png(in, gradient(300, 300));
    const std::vector<uint8_t> old = {'k', 'e', 'e', 'p', ' ', 'm', 'e'};
    write_bytes(out, old);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        int ok = velmora_invert(in.c_str(), out.c_str());
        bool right = !ok && last_error() == "invert: cannot write " + out;
        _exit(right ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the call did not report the write failure";
    EXPECT_EQ(read_bytes(out), old);
    auto names = box.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.png", "keep.bmp"}));
}

TEST(Writing, ReplacedFileKeepsItsPermissions) {
    Sandbox box;
    write_png(box.path("in.png"), kSmall);
    const std::string out = box.path("out.png");
    write_bytes(out, {'x'});
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    ASSERT_EQ(velmora_invert(box.path("in.png").c_str(), out.c_str()), 1);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}
#endif

TEST(Writing, ParameterlessFailuresLeaveExistingOutputUntouched) {
    Sandbox box;
    const std::string out = box.path("out.png");
    write_bytes(out, {'o', 'l', 'd'});
    write_bytes(box.path("bad.png"), {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0});
    EXPECT_EQ(velmora_sepia(box.path("bad.png").c_str(), out.c_str()), 0);
    EXPECT_EQ(read_bytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

}  // namespace
