// Where the output goes: plain files, links, devices, closed folders, owners,
// long and non-ASCII names, full disks, rival writers and killed processes.
// Every case checks the call's result, the bytes that arrived, what the
// folder holds afterwards (no stray file) and what became of links and owners.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "output_file.h"
#include "support.h"
#include "velmora.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>
#endif

namespace {

namespace fs = std::filesystem;
using namespace vt;
using Bytes = std::vector<uint8_t>;

const Bytes kOld = {'o', 'l', 'd', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};

// Every path below `dir`, relative, sorted; links are listed, not followed.
std::vector<std::string> tree(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        names.push_back(e.path().lexically_relative(dir).generic_u8string());
    std::sort(names.begin(), names.end());
    return names;
}

// The bytes velmora_invert makes of `in` as a PNG, from a plain output.
Bytes inverted_png(const std::string &in) {
    Sandbox ref;
    const std::string out = ref.path("ref.png");
    EXPECT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
    return read_bytes(out);
}

std::string name_of_length(size_t bytes) {
    return std::string(bytes - 4, 'n') + ".png";
}

// ---- every platform -----------------------------------------------------------

TEST(OutputFile, PlainAndLongNamesAreReplacedWhole) {
    Sandbox box;
    const std::string in = box.path("in.png");
    write_png(in, gradient(40, 30));
    const Bytes expected = inverted_png(in);
    const std::string long_name = name_of_length(255);

    struct Case {
        const char *what;
        std::string name;
        bool existing;
    } cases[] = {
        {"new file", "out.png", false},
        {"existing file", "out.png", true},
        {"new, 255-byte name", long_name, false},
        {"existing, 255-byte name", long_name, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = box.path(c.name);
        fs::remove(box.path("out.png"));
        fs::remove(box.path(long_name));
        if (c.existing) write_bytes(out, kOld);
        ASSERT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
        EXPECT_EQ(read_bytes(out), expected);
        EXPECT_EQ(tree(box.dir()), (std::vector<std::string>{"in.png", c.name}));
    }
}

// A file its owner made read-only is refused, not replaced behind its back.
TEST(OutputFile, ReadOnlyFileIsLeftAlone) {
#if !defined(_WIN32)
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file (the situation table drops that)";
#endif
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png");
    write_png(in, gradient(8, 8));
    write_bytes(out, kOld);
    fs::permissions(out, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(velmora_invert(in.c_str(), out.c_str()), 0);
    EXPECT_EQ(last_error(), "invert: cannot write " + out);
    fs::permissions(out, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(read_bytes(out), kOld);
    EXPECT_EQ(tree(box.dir()), (std::vector<std::string>{"in.png", "out.png"}));
}

// Runs the calls at the same time (processes where there are, else
// threads) and returns their results.
std::vector<int> run_together(const std::vector<std::function<int()>> &calls);

// Rival writers of one output: whatever the timing, the output is always one
// writer's whole file, never a mixture, and no temporary file remains.
void expect_whole_results(bool through_link) {
    Sandbox box;
    write_png(box.path("a.png"), gradient(300, 200));
    Picture other = gradient(300, 200);
    for (Rgba &c : other.px) c = rgb(c.g, c.b, c.r, c.a);
    write_png(box.path("b.png"), other);
    const Bytes a = inverted_png(box.path("a.png")), b = inverted_png(box.path("b.png"));
    ASSERT_NE(a, b);
    const std::string in_a = box.path("a.png"), in_b = box.path("b.png"), out = box.path("out.png");
    std::vector<std::string> expected_tree = {"a.png", "b.png", "out.png"};
    if (through_link) {
        fs::create_directory(box.path("real"));
        fs::create_symlink("real/out.png", out);
        expected_tree = {"a.png", "b.png", "out.png", "real", "real/out.png"};
    }
    int mixed = 0;
    for (int round = 0; round < 20; ++round) {
        const std::vector<int> results =
            run_together({[&] { return velmora_invert(in_a.c_str(), out.c_str()); },
                          [&] { return velmora_invert(in_b.c_str(), out.c_str()); }});
        EXPECT_EQ(results, (std::vector<int>{1, 1}));
        const Bytes got = read_bytes(out);
        if (got != a && got != b) ++mixed;
        EXPECT_EQ(tree(box.dir()), expected_tree);
    }
    EXPECT_EQ(mixed, 0) << "outputs that were neither writer's whole file";
}

#if defined(_WIN32)
std::vector<int> run_together(const std::vector<std::function<int()>> &calls) {
    std::vector<int> results(calls.size(), -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < calls.size(); ++i)
        threads.emplace_back([&, i] { results[i] = calls[i](); });
    for (auto &t : threads) t.join();
    return results;
}
#endif

TEST(OutputFile, RivalWritersLeaveOneWholeFile) {
    expect_whole_results(false);
}

TEST(OutputFile, RivalWritersThroughALinkLeaveOneWholeFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "links are not followed on Windows (and need privileges there)";
#else
    expect_whole_results(true);
#endif
}

// ---- patching and cutting what was appended -----------------------------------

// One step of a script run on a stream and on a plain vector alike.
struct Edit {
    enum Kind { append, patch, truncate } kind;
    size_t at, n;  // append: n bytes; patch: n bytes at `at`; truncate: to `at`
};

// Appends of every size against the stage, patches that straddle what was
// passed on and what is staged, cuts into either.
std::vector<Edit> edit_script(size_t stage, uint32_t seed, int steps = 300) {
    std::vector<Edit> script;
    uint32_t s = seed;
    auto rnd = [&s](size_t below) {
        s = s * 1664525u + 1013904223u;
        return below ? size_t(s >> 8) % below : 0;
    };
    size_t length = 0;
    for (int i = 0; i < steps; ++i) {
        const size_t pick = rnd(10);
        if (pick < 6 || length == 0) {
            const size_t n = rnd(pick % 2 ? stage * 3 : 40) + 1;
            script.push_back({Edit::append, 0, n});
            length += n;
        } else if (pick < 9) {
            const size_t at = rnd(length);
            script.push_back({Edit::patch, at, rnd(std::min<size_t>(length - at, 2 * stage)) + 1});
        } else {
            const size_t at = length - rnd(std::min<size_t>(length, 2 * stage) + 1);
            script.push_back({Edit::truncate, at, 0});
            length = at;
        }
    }
    return script;
}

Bytes run_script(const std::vector<Edit> &script, velmora::OutputStream *out, uint8_t salt) {
    Bytes model;
    uint8_t next = salt;
    for (const Edit &e : script) {
        Bytes piece(e.n);
        for (auto &b : piece) b = next++;
        switch (e.kind) {
        case Edit::append:
            model.insert(model.end(), piece.begin(), piece.end());
            if (out) out->append(piece.data(), piece.size());
            break;
        case Edit::patch:
            std::copy(piece.begin(), piece.end(), model.begin() + long(e.at));
            if (out) {
                EXPECT_TRUE(out->patch(e.at, piece.data(), piece.size()));
            }
            break;
        case Edit::truncate:
            model.resize(e.at);
            if (out) {
                EXPECT_TRUE(out->truncate(e.at));
            }
            break;
        }
        if (out) {
            EXPECT_EQ(out->position(), model.size());
        }
    }
    return model;
}

TEST(OutputStream, PatchesAndCutsInMemoryAndThroughASink) {
    for (size_t stage : {size_t(0), size_t(1), size_t(16), size_t(1000)}) {
        SCOPED_TRACE("stage " + std::to_string(stage));
        const std::vector<Edit> script = edit_script(stage ? stage : 500, uint32_t(stage) + 3);
        const Bytes want = run_script(script, nullptr, 7);
        Bytes sunk;
        std::unique_ptr<velmora::OutputStream> out;
        if (stage == 0)
            out.reset(new velmora::OutputStream());
        else
            out.reset(new velmora::OutputStream(stage, velmora::append_to_vector, velmora::patch_vector,
                                                velmora::truncate_vector, &sunk));
        ASSERT_TRUE(out->can_rewrite());
        run_script(script, out.get(), 7);
        ASSERT_TRUE(out->flush());
        const Bytes got = stage == 0 ? Bytes(out->data(), out->data() + out->size()) : sunk;
        EXPECT_TRUE(got == want) << got.size() << " bytes, " << want.size() << " expected";
    }
}

TEST(OutputStream, RefusesEditsItCannotMake) {
    Bytes sunk;
    // A sink that cannot seek: no edit, of the staged bytes either.
    velmora::OutputStream pipe(64, velmora::append_to_vector, &sunk);
    pipe.append("abcdef", 6);
    EXPECT_FALSE(pipe.can_rewrite());
    EXPECT_FALSE(pipe.patch(0, "x", 1));
    EXPECT_FALSE(pipe.ok());

    struct Case {
        const char *what;
        std::function<bool(velmora::OutputStream &)> edit;
    };
    const Case cases[] = {
        {"patch past the end", [](velmora::OutputStream &s) { return s.patch(5, "xy", 2); }},
        {"patch beyond it", [](velmora::OutputStream &s) { return s.patch(9, "x", 1); }},
        {"cut beyond the end", [](velmora::OutputStream &s) { return s.truncate(7); }},
    };
    for (const Case &c : cases) {
        velmora::OutputStream memory;
        memory.append("abcdef", 6);
        EXPECT_FALSE(c.edit(memory)) << c.what;
        EXPECT_FALSE(memory.ok()) << c.what;
    }
    // A sink that refuses an edit fails the stream.
    const auto no_patch = [](void *, size_t, const unsigned char *, size_t) { return false; };
    velmora::OutputStream refusing(64, velmora::append_to_vector, no_patch,
                                   velmora::truncate_vector, &sunk);
    const Bytes passed(40, 1);  // half a stage or more: straight to the sink
    refusing.append(passed.data(), passed.size());
    refusing.append("abcdefgh", 8);
    EXPECT_TRUE(refusing.patch(46, "x", 1));  // still staged: no call of the sink
    EXPECT_FALSE(refusing.patch(0, "x", 1));
    EXPECT_FALSE(refusing.ok());
}

// The file under a replacement takes patches and cuts at any offset, the
// stage flushed or not, in both ways of making the new file.
TEST(OutputFile, PatchesAndCutsTheFileBeingWritten) {
    struct Job {
        std::vector<Edit> script;
        bool rewritable = false;
    };
    for (bool anonymous : {true, false}) {
        SCOPED_TRACE(anonymous ? "anonymous" : "named temporary");
        velmora::use_anonymous_files(anonymous);
        Sandbox box;
        const std::string out = box.path("out.bin");
        write_bytes(out, kOld);
        // Steps of the size of the file stage (256 KiB) and across it.
        Job job{edit_script(300 * 1024, 11, 60)};
        const Bytes want = run_script(job.script, nullptr, 3);
        const velmora::Producer produce = [](velmora::OutputStream &s, void *context) {
            Job &j = *static_cast<Job *>(context);
            j.rewritable = s.can_rewrite();
            run_script(j.script, &s, 3);
            return s.ok() ? 1 : 0;
        };
        EXPECT_EQ(velmora::write_file_safely(out.c_str(), produce, &job), 1);
        EXPECT_TRUE(job.rewritable);
        EXPECT_TRUE(read_bytes(out) == want) << read_bytes(out).size() << " vs " << want.size();
        EXPECT_EQ(tree(box.dir()), (std::vector<std::string>{"out.bin"}));
    }
    velmora::use_anonymous_files(true);
}

// ---- names beyond ASCII -------------------------------------------------------

// A path given as UTF-8, as the library takes it.
fs::path utf8_path(const std::string &text) { return fs::u8path(text); }

// Copies a file over any old one (the mingw build's copy_file cannot overwrite).
void copy_anew(const fs::path &from, const fs::path &to) {
    fs::remove(to);
    fs::copy_file(from, to);
}

TEST(OutputFile, Utf8NamesInAndOut) {
    Sandbox box;
    write_png(box.path("plain.png"), gradient(20, 10));
    const Bytes expected = inverted_png(box.path("plain.png"));
    // A 255-byte name: 82 three-byte characters, 5 letters and ".png".
    std::string cjk_255 = "xxxxx";
    for (int i = 0; i < 82; ++i) cjk_255 += "\xE5\x86\x99";
    cjk_255 += ".png";
    ASSERT_EQ(cjk_255.size(), 255u);

    const std::string names[] = {
        "\xE5\x86\x99\xE7\x9C\x9F.png",                  // Japanese
        "\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE.png",          // Cyrillic
        "\xCE\xA6\xCF\x89\xCF\x84\xCE\xBF.png",          // Greek
        "\xF0\x9F\x93\xB7.png",                          // an emoji, outside the BMP
        cjk_255,
    };
    const std::string folder = "\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0";  // a Cyrillic folder
    fs::create_directory(utf8_path(box.dir() + "/" + folder));
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const std::string in = box.dir() + "/" + folder + "/in-" + name.substr(0, 5 + 3 * 60);
        const std::string out = box.dir() + "/" + folder + "/" + name;
        copy_anew(box.path("plain.png"), utf8_path(in));
        // Written new, then replaced: both leave the one file and nothing else.
        for (int pass = 0; pass < 2; ++pass) {
            ASSERT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
            copy_anew(utf8_path(out), box.path("check.png"));
            EXPECT_EQ(read_bytes(box.path("check.png")), expected);
        }
        std::vector<std::string> listed;
        for (const auto &e : fs::directory_iterator(utf8_path(box.dir() + "/" + folder)))
            listed.push_back(e.path().filename().u8string());
        std::sort(listed.begin(), listed.end());
        std::vector<std::string> wanted = {"in-" + name.substr(0, 5 + 3 * 60), name};
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(listed, wanted);
        fs::remove(utf8_path(in));
        fs::remove(utf8_path(out));

        // A missing input is reported by the name the caller gave.
        EXPECT_EQ(velmora_invert(in.c_str(), out.c_str()), 0);
        EXPECT_EQ(last_error(), "invert: cannot read " + in);
        EXPECT_FALSE(fs::exists(utf8_path(out)));
    }
}

// The folder `path` as the system's calls take it past MAX_PATH characters
// (Windows wants the \\?\ prefix on an absolute path; elsewhere it is the path).
fs::path long_form(const std::string &path) {
#if defined(_WIN32)
    std::wstring full = fs::absolute(utf8_path(path)).wstring();
    for (wchar_t &c : full)
        if (c == L'/') c = L'\\';
    return fs::path(L"\\\\?\\" + full);
#else
    return utf8_path(path);
#endif
}

// Removes the files and folders of `folder` down to `top`, by their long forms
// (the standard library's own removal does not take the \\?\ prefix on every
// system).
void remove_long(const std::string &top, std::string folder) {
    for (const char *name : {"/in.png", "/out.png"}) fs::remove(long_form(folder + name));
    for (; folder.size() > top.size(); folder.erase(folder.rfind('/')))
        fs::remove(long_form(folder));
}

// Paths over 260 characters, ASCII and non-ASCII, are read, written and
// replaced, the input and the output both long.
TEST(OutputFile, LongPathsAreReadAndWritten) {
    Sandbox box;
    write_png(box.path("plain.png"), gradient(20, 10));
    const Bytes inverted = inverted_png(box.path("plain.png"));
    const std::string ascii(60, 'd');
    std::string greek;  // 30 two-byte characters
    for (int i = 0; i < 30; ++i) greek += "\xCE\xB1";
    for (const std::string &part : {ascii, greek}) {
        SCOPED_TRACE(part.substr(0, 4));
        std::string folder = box.dir();
        while (folder.size() < 320) folder += "/" + part;
        fs::create_directories(long_form(folder));
        const std::string in = folder + "/in.png", out = folder + "/out.png";
        ASSERT_GT(out.size(), 300u);
        ASSERT_EQ(velmora_invert(box.path("plain.png").c_str(), in.c_str()), 1) << last_error();
        for (int pass = 0; pass < 2; ++pass)  // written new, then replaced
            ASSERT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
        // Back through a short name to compare: the invert of the invert.
        ASSERT_EQ(velmora_invert(out.c_str(), box.path("back.png").c_str()), 1) << last_error();
        EXPECT_EQ(read_bytes(box.path("back.png")), inverted);
#if !defined(_WIN32)
        EXPECT_EQ(tree(folder), (std::vector<std::string>{"in.png", "out.png"}));
#endif
        remove_long(box.dir(), folder);
    }
}

// A name in the ANSI code page, not UTF-8 ("café" with é as the one byte
// 0xE9 of code page 1252), is opened as before.
TEST(OutputFile, AnsiNameStillWorks) {
#if defined(_WIN32)
    if (GetACP() != 1252) GTEST_SKIP() << "the ANSI code page here is " << GetACP();
    const fs::path in_file = fs::path(L"caf\u00e9-in.png"), out_file = fs::path(L"caf\u00e9.png");
#else
    // Elsewhere names are bytes: the same name goes through unchanged.
    const fs::path in_file = "caf\xE9-in.png", out_file = "caf\xE9.png";
#endif
    Sandbox box;
    write_png(box.path("plain.png"), gradient(20, 10));
    const Bytes expected = inverted_png(box.path("plain.png"));
    const fs::path dir = box.dir();
    fs::copy_file(box.path("plain.png"), dir / in_file);
    const std::string in = box.path("caf\xE9-in.png"), out = box.path("caf\xE9.png");
    ASSERT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
    ASSERT_TRUE(fs::exists(dir / out_file));
    fs::copy_file(dir / out_file, box.path("check.png"));
    EXPECT_EQ(read_bytes(box.path("check.png")), expected);
    EXPECT_EQ(fs::directory_iterator(dir) == fs::directory_iterator(), false);
    size_t count = 0;
    for (const auto &e : fs::directory_iterator(dir)) count += e.is_regular_file();
    EXPECT_EQ(count, 4u);  // plain, check, and the two café files
}

// ---- a folder that takes no new file ----------------------------------------

// Locked-down deployments create the output files beforehand in a folder
// the program may not write: the file is rewritten in place.
void expect_written_in_closed_folder(const std::string &folder, const std::string &in,
                                     const Bytes &expected) {
    const std::string out = folder + "/out.png";
    const std::string missing = folder + "/new.png";
    const std::vector<std::string> before = tree(folder);
    ASSERT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
    EXPECT_EQ(read_bytes(out), expected);
    EXPECT_EQ(velmora_invert(in.c_str(), missing.c_str()), 0);
    EXPECT_EQ(last_error(), "invert: cannot write " + missing);
    EXPECT_EQ(tree(folder), before);
}

TEST(OutputFile, ClosedFolderPreparedOutside) {
    // The Windows run has no way to close a folder from inside Wine: a script
    // closes one (the immutable flag) and names it here.
    const char *folder = std::getenv("VELMORA_CLOSED_FOLDER");
    if (!folder) GTEST_SKIP() << "no closed folder prepared (VELMORA_CLOSED_FOLDER)";
    Sandbox box;
    const std::string in = box.path("in.png");
    write_png(in, gradient(64, 48));
    expect_written_in_closed_folder(folder, in, inverted_png(in));
}

#if !defined(_WIN32)
// ---- POSIX: links, devices, owners, processes -----------------------------------

// A picture that does not compress: its files are about as large as its pixels.
Picture noise(int width, int height) {
    Picture p = filled(width, height, rgb(0, 0, 0));
    uint32_t state = 7;
    for (Rgba &c : p.px) {
        state = state * 1664525u + 1013904223u;
        c = rgb(state >> 24, (state >> 16) & 255, (state >> 8) & 255, 255);
    }
    return p;
}


// Runs `call` in a child process and returns its result (-1 if the child
// died). `unprivileged`: without root's overrides of file permissions, so
// that a folder's or a file's mode counts even when the tests run as root.
// `size_limit`: the largest file the child may write, as on a full disk.
struct ChildOptions {
    bool unprivileged = false;
    long size_limit = -1;
};

void drop_file_overrides() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2];
    if (syscall(SYS_capget, &header, data) != 0) _exit(90);
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    if (syscall(SYS_capset, &header, data) != 0) _exit(91);
}

int in_child(const std::function<int()> &call, ChildOptions options = {}) {
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (options.unprivileged) drop_file_overrides();
        if (options.size_limit >= 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim = {rlim_t(options.size_limit), rlim_t(options.size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(92);
        }
        _exit(call() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    const int code = WEXITSTATUS(status);
    return code == 0 ? 1 : code == 1 ? 0 : -code;
}

std::vector<int> run_together(const std::vector<std::function<int()>> &calls) {
    std::vector<pid_t> children;
    for (const auto &call : calls) {
        fflush(nullptr);
        pid_t child = fork();
        if (child == 0) _exit(call() ? 0 : 1);
        children.push_back(child);
    }
    std::vector<int> results;
    for (pid_t child : children) {
        int status = 0;
        const bool exited = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
        results.push_back(!exited ? -1 : WEXITSTATUS(status) == 0 ? 1 : 0);
    }
    return results;
}

struct stat stat_of(const std::string &path) {
    struct stat st{};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

bool is_link(const std::string &path) { return S_ISLNK(stat_of(path).st_mode); }

mode_t current_umask() {
    mode_t m = umask(0);
    umask(m);
    return m;
}

// One place the output can lead to, and what must come of a call there.
struct Situation {
    const char *what;
    std::string output;                      // the path the call is given, in the sandbox
    std::function<void(Sandbox &)> prepare;  // makes the files beforehand
    std::string written;                     // where the new bytes must be; "" for none
    bool succeeds = true;
    std::vector<std::string> tree;           // the sandbox afterwards
    std::vector<std::string> links;          // paths that must still be links
    std::string untouched;                   // a path that must still hold kOld
    ChildOptions options;
    bool needs_root = false;

    Situation(const char *what_, std::string output_, std::function<void(Sandbox &)> prepare_)
        : what(what_), output(std::move(output_)), prepare(std::move(prepare_)) {}
    Situation &writes(std::string path) { written = std::move(path); return *this; }
    Situation &fails() { succeeds = false; return *this; }
    Situation &leaves(std::vector<std::string> paths) { tree = std::move(paths); return *this; }
    Situation &keeps_links(std::vector<std::string> paths) { links = std::move(paths); return *this; }
    Situation &keeps_old(std::string path) { untouched = std::move(path); return *this; }
    Situation &unprivileged() { options.unprivileged = true; return *this; }
    Situation &root_only() { needs_root = true; return *this; }
};

void make_dirs(Sandbox &box, std::initializer_list<const char *> dirs) {
    for (const char *d : dirs) fs::create_directories(box.path(d));
}

void make_link(Sandbox &box, const std::string &target, const char *name) {
    ASSERT_EQ(symlink(target.c_str(), box.path(name).c_str()), 0) << name;
}

// out.png -> l1 -> l2 -> ... -> l<n-1> -> target.png: n links, and the old file.
void link_chain(Sandbox &box, int n) {
    write_bytes(box.path("target.png"), kOld);
    for (int k = 0; k < n; ++k) {
        const std::string from = k == 0 ? "out.png" : "l" + std::to_string(k);
        const std::string to = k + 1 == n ? "target.png" : "l" + std::to_string(k + 1);
        make_link(box, to, from.c_str());
    }
}

// The sandbox after a call on a chain of n links.
std::vector<std::string> chain_tree(int n) {
    std::vector<std::string> names = {"in.png", "out.png", "target.png"};
    for (int k = 1; k < n; ++k) names.push_back("l" + std::to_string(k));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<Situation> situations() {
    const std::string long_name = name_of_length(255);
    return {
        Situation("plain new file", "out.png", [](Sandbox &) {})
            .writes("out.png").leaves({"in.png", "out.png"}),
        Situation("plain existing file", "out.png",
                  [](Sandbox &b) { write_bytes(b.path("out.png"), kOld); })
            .writes("out.png").leaves({"in.png", "out.png"}),
        Situation("relative link", "out.png",
                  [](Sandbox &b) {
                      make_dirs(b, {"sub"});
                      write_bytes(b.path("sub/target.png"), kOld);
                      make_link(b, "sub/target.png", "out.png");
                  })
            .writes("sub/target.png").keeps_links({"out.png"})
            .leaves({"in.png", "out.png", "sub", "sub/target.png"}),
        Situation("chain of links, each relative to its own folder", "out.png",
                  [](Sandbox &b) {
                      make_dirs(b, {"sub", "real"});
                      write_bytes(b.path("real/c.png"), kOld);
                      make_link(b, "sub/b.png", "out.png");
                      make_link(b, "../real/c.png", "sub/b.png");
                  })
            .writes("real/c.png").keeps_links({"out.png", "sub/b.png"})
            .leaves({"in.png", "out.png", "real", "real/c.png", "sub", "sub/b.png"}),
        Situation("absolute link", "out.png",
                  [](Sandbox &b) {
                      write_bytes(b.path("target.png"), kOld);
                      make_link(b, fs::absolute(b.path("target.png")).string(), "out.png");
                  })
            .writes("target.png").keeps_links({"out.png"})
            .leaves({"in.png", "out.png", "target.png"}),
        Situation("dangling link: the target is created", "out.png",
                  [](Sandbox &b) {
                      make_dirs(b, {"sub"});
                      make_link(b, "sub/new.png", "out.png");
                  })
            .writes("sub/new.png").keeps_links({"out.png"})
            .leaves({"in.png", "out.png", "sub", "sub/new.png"}),
        Situation("link loop", "out.png",
                  [](Sandbox &b) {
                      make_link(b, "b.png", "out.png");
                      make_link(b, "out.png", "b.png");
                  })
            .fails().keeps_links({"out.png", "b.png"}).leaves({"b.png", "in.png", "out.png"}),
        // 40 links are followed, as the system itself follows them; a 41st is
        // taken for a loop.
        Situation("chain of 40 links", "out.png", [](Sandbox &b) { link_chain(b, 40); })
            .writes("target.png").keeps_links({"out.png", "l39"}).leaves(chain_tree(40)),
        Situation("chain of 41 links: refused", "out.png", [](Sandbox &b) { link_chain(b, 41); })
            .fails().keeps_old("target.png").keeps_links({"out.png", "l40"})
            .leaves(chain_tree(41)),
        Situation("hard link: the replace splits it", "out.png",
                  [](Sandbox &b) {
                      write_bytes(b.path("out.png"), kOld);
                      ASSERT_EQ(link(b.path("out.png").c_str(), b.path("other.png").c_str()), 0);
                  })
            .writes("out.png").keeps_old("other.png").leaves({"in.png", "other.png", "out.png"}),
        Situation("/dev/null", "/dev/null", [](Sandbox &) {}).leaves({"in.png"}),
        Situation("closed folder, writable file: rewritten in place", "ro/out.png",
                  [](Sandbox &b) {
                      make_dirs(b, {"ro"});
                      write_bytes(b.path("ro/out.png"), kOld);
                      chmod(b.path("ro").c_str(), 0555);
                  })
            .unprivileged().writes("ro/out.png").leaves({"in.png", "ro", "ro/out.png"}),
        Situation("closed folder, no file", "ro/out.png",
                  [](Sandbox &b) {
                      make_dirs(b, {"ro"});
                      chmod(b.path("ro").c_str(), 0555);
                  })
            .unprivileged().fails().leaves({"in.png", "ro"}),
        Situation("read-only file", "out.png",
                  [](Sandbox &b) {
                      write_bytes(b.path("out.png"), kOld);
                      chmod(b.path("out.png").c_str(), 0444);
                  })
            .unprivileged().fails().keeps_old("out.png").leaves({"in.png", "out.png"}),
        Situation("255-byte name, existing", long_name,
                  [long_name](Sandbox &b) { write_bytes(b.path(long_name), kOld); })
            .writes(long_name).leaves({"in.png", long_name}),
        Situation("existing file of another owner and group", "out.png",
                  [](Sandbox &b) {
                      write_bytes(b.path("out.png"), kOld);
                      ASSERT_EQ(chown(b.path("out.png").c_str(), 4321, 8765), 0);
                      chmod(b.path("out.png").c_str(), 0640);
                  })
            .root_only().writes("out.png").leaves({"in.png", "out.png"}),
        // As in /tmp: the file may be written, but only its owner (or the
        // folder's) may replace it. The rename fails, and the temporary must
        // go with it.
        Situation("sticky folder, another owner's writable file", "sticky/out.png",
                  [](Sandbox &b) {
                      make_dirs(b, {"sticky"});
                      chmod(b.path("sticky").c_str(), 01777);
                      ASSERT_EQ(chown(b.path("sticky").c_str(), 4321, 8765), 0);
                      write_bytes(b.path("sticky/out.png"), kOld);
                      ASSERT_EQ(chown(b.path("sticky/out.png").c_str(), 4321, 8765), 0);
                      chmod(b.path("sticky/out.png").c_str(), 0666);
                  })
            .root_only().unprivileged().fails().keeps_old("sticky/out.png")
            .leaves({"in.png", "sticky", "sticky/out.png"}),
        Situation("existing file with mode 0666, wider than the umask", "out.png",
                  [](Sandbox &b) {
                      write_bytes(b.path("out.png"), kOld);
                      chmod(b.path("out.png").c_str(), 0666);
                  })
            .writes("out.png").leaves({"in.png", "out.png"}),
    };
}

// Both ways a replacement is made: a file without a name until it is whole
// (Linux), and a file under a temporary name from the start (every other
// system, and Linux file systems without O_TMPFILE).
class OutputFileModes : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { velmora::use_anonymous_files(GetParam()); }
    void TearDown() override { velmora::use_anonymous_files(true); }
};

INSTANTIATE_TEST_SUITE_P(Replacements, OutputFileModes, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "Anonymous" : "NamedTemporary");
                         });

TEST_P(OutputFileModes, EverySituation) {
    Sandbox src;
    const std::string in_file = src.path("in.png");
    write_png(in_file, gradient(64, 48));
    const Bytes expected = inverted_png(in_file);

    for (const Situation &s : situations()) {
        SCOPED_TRACE(s.what);
        if (s.needs_root && geteuid() != 0) {
            std::printf("[  SKIPPED ] %s: needs root\n", s.what);
            continue;
        }
        Sandbox box;
        ASSERT_TRUE(fs::copy_file(in_file, box.path("in.png")));
        s.prepare(box);
        if (HasFatalFailure()) return;
        const std::string out = s.output[0] == '/' ? s.output : box.path(s.output);
        const std::string in = box.path("in.png");
        // What the output's file was: its owner and mode must carry over.
        struct stat before{};
        const bool existed = !s.written.empty() && stat(box.path(s.written).c_str(), &before) == 0;

        const int result = in_child([&] { return velmora_invert(in.c_str(), out.c_str()); },
                                    s.options);
        EXPECT_EQ(result, s.succeeds ? 1 : 0);
        if (!s.written.empty()) {
            const std::string written = box.path(s.written);
            EXPECT_EQ(read_bytes(written), expected);
            const struct stat after = stat_of(written);
            EXPECT_TRUE(S_ISREG(after.st_mode));
            if (existed) {
                EXPECT_EQ(after.st_uid, before.st_uid);
                EXPECT_EQ(after.st_gid, before.st_gid);
                EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
            } else {
                EXPECT_EQ(after.st_mode & 07777, 0666u & ~current_umask());
            }
        }
        for (const std::string &l : s.links) EXPECT_TRUE(is_link(box.path(l))) << l;
        if (!s.untouched.empty()) {
            EXPECT_EQ(read_bytes(box.path(s.untouched)), kOld);
        }
        if (s.output == "/dev/null") {
            EXPECT_TRUE(S_ISCHR(stat_of("/dev/null").st_mode));
        }
        EXPECT_EQ(tree(box.dir()), s.tree);
        chmod(box.path("ro").c_str(), 0755);  // so that the sandbox can go
    }
}

// Every extended attribute of a file, by name.
std::map<std::string, std::string> attributes_of(const std::string &path) {
    std::map<std::string, std::string> all;
    char names[8192];
    const ssize_t size = llistxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t n = lgetxattr(path.c_str(), names + at, value, sizeof value);
        if (n >= 0) all[names + at] = std::string(value, static_cast<size_t>(n));
    }
    return all;
}

// A replaced file keeps its own tags and the ACL that grants others access.
TEST_P(OutputFileModes, AttributesAndAclSurviveAReplace) {
    Sandbox box;
    const std::string in = box.path("in.png"), out = box.path("out.png");
    write_png(in, gradient(16, 8));
    write_bytes(out, kOld);
    chmod(out.c_str(), 0640);
    if (setxattr(out.c_str(), "user.velmora-tag", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system takes no user attributes: " << std::strerror(errno);
    const std::string setfacl = "setfacl -m u:65534:rw,g:65534:r '" + out + "' 2>/dev/null";
    const bool acl = std::system(setfacl.c_str()) == 0;
    if (!acl) std::printf("[  NOTE    ] no ACL: setfacl missing or unsupported here\n");
    const auto before = attributes_of(out);
    const mode_t mode_before = stat_of(out).st_mode & 07777;
    ASSERT_EQ(before.count("user.velmora-tag"), 1u);
    if (acl) {
        ASSERT_EQ(before.count("system.posix_acl_access"), 1u);
    }

    ASSERT_EQ(velmora_invert(in.c_str(), out.c_str()), 1) << last_error();
    EXPECT_EQ(attributes_of(out), before);
    EXPECT_EQ(stat_of(out).st_mode & 07777, mode_before);
    EXPECT_EQ(tree(box.dir()), (std::vector<std::string>{"in.png", "out.png"}));
}

// A rewrite in place keeps the file itself: the same inode, so that hard links
// and open readers see the new content.
TEST(OutputFilePosix, ClosedFolderKeepsTheSameFile) {
    Sandbox box;
    const std::string in = box.path("in.png");
    write_png(in, gradient(64, 48));
    const Bytes expected = inverted_png(in);
    fs::create_directory(box.path("ro"));
    // Longer than the new file at first, then shorter: both lengths come out right.
    for (size_t old_size : {size_t(200000), size_t(10)}) {
        SCOPED_TRACE(old_size);
        const std::string out = box.path("ro/out.png");
        chmod(box.path("ro").c_str(), 0755);
        write_bytes(out, Bytes(old_size, 0x5A));
        chmod(box.path("ro").c_str(), 0555);
        const ino_t inode = stat_of(out).st_ino;
        ChildOptions unprivileged;
        unprivileged.unprivileged = true;
        EXPECT_EQ(in_child([&] { return velmora_invert(in.c_str(), out.c_str()); }, unprivileged), 1);
        EXPECT_EQ(read_bytes(out), expected);
        EXPECT_EQ(stat_of(out).st_ino, inode);
        EXPECT_EQ(tree(box.path("ro")), (std::vector<std::string>{"out.png"}));
    }
    chmod(box.path("ro").c_str(), 0755);
}

// A FIFO gets the whole file; nothing is renamed over it.
TEST(OutputFilePosix, FifoReceivesTheWholeFile) {
    Sandbox box;
    const std::string in = box.path("in.png"), fifo = box.path("pipe.png");
    write_png(in, gradient(64, 48));
    const Bytes expected = inverted_png(in);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Bytes received;
    std::thread reader([&] { received = read_bytes(fifo); });
    EXPECT_EQ(velmora_invert(in.c_str(), fifo.c_str()), 1) << last_error();
    reader.join();
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(S_ISFIFO(stat_of(fifo).st_mode));
    EXPECT_EQ(tree(box.dir()), (std::vector<std::string>{"in.png", "pipe.png"}));
}

// A disk that fills up halfway (the file size limit stands in for it): the
// old output stays byte for byte, in every situation, and nothing is left.
TEST(OutputFilePosix, FullDiskLeavesEverythingAsItWas) {
    Sandbox src;
    const std::string in_file = src.path("big.png");
    write_png(in_file, noise(100, 100));
    ASSERT_GT(read_bytes(in_file).size(), 8192u);
    ChildOptions full;
    full.size_limit = 4096;
    ChildOptions full_unprivileged = full;
    full_unprivileged.unprivileged = true;
    const std::string long_name = name_of_length(255);

    struct Case {
        const char *what;
        std::function<void(Sandbox &)> prepare;
        std::string output;
        std::string old;  // where kOld must stay; "" for none
        ChildOptions options;
    } cases[] = {
        {"new file", [](Sandbox &) {}, "out.png", "", full},
        {"existing file", [](Sandbox &b) { write_bytes(b.path("out.png"), kOld); }, "out.png",
         "out.png", full},
        {"link to an existing file", [](Sandbox &b) {
             make_dirs(b, {"sub"});
             write_bytes(b.path("sub/t.png"), kOld);
             make_link(b, "sub/t.png", "out.png");
         },
         "out.png", "sub/t.png", full},
        {"dangling link", [](Sandbox &b) { make_link(b, "missing.png", "out.png"); }, "out.png",
         "", full},
        {"hard link", [](Sandbox &b) {
             write_bytes(b.path("out.png"), kOld);
             ASSERT_EQ(link(b.path("out.png").c_str(), b.path("other.png").c_str()), 0);
         },
         "out.png", "out.png", full},
        {"255-byte name", [long_name](Sandbox &b) { write_bytes(b.path(long_name), kOld); },
         long_name, long_name, full},
        {"closed folder, writable file", [](Sandbox &b) {
             make_dirs(b, {"ro"});
             write_bytes(b.path("ro/out.png"), kOld);
             chmod(b.path("ro").c_str(), 0555);
         },
         "ro/out.png", "ro/out.png", full_unprivileged},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        ASSERT_TRUE(fs::copy_file(in_file, box.path("big.png")));
        c.prepare(box);
        if (HasFatalFailure()) return;
        const std::vector<std::string> before = tree(box.dir());
        const std::string in = box.path("big.png"), out = box.path(c.output);
        const int result = in_child(
            [&] {
                int ok = velmora_invert(in.c_str(), out.c_str());
                // The child reports a wrong message as a success, which fails below.
                return ok || last_error() != "invert: cannot write " + out;
            },
            c.options);
        EXPECT_EQ(result, 0) << "the call did not fail with \"cannot write\"";
        if (!c.old.empty()) {
            EXPECT_EQ(read_bytes(box.path(c.old)), kOld);
        }
        EXPECT_EQ(tree(box.dir()), before);
        chmod(box.path("ro").c_str(), 0755);
    }
}

// A process killed while it encodes leaves no file behind: the new file has
// no name until it is complete.
TEST(OutputFilePosix, KilledWriterLeavesNothing) {
    Sandbox box;
    {
        int probe = open(box.dir().c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (probe < 0) GTEST_SKIP() << "this filesystem has no anonymous files (O_TMPFILE)";
        close(probe);
    }
    const std::string in = box.path("big.png"), out = box.path("out.png");
    write_png(in, gradient(2500, 2500));
    write_bytes(out, kOld);

    for (int round = 0; round < 2; ++round) {
        fflush(nullptr);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) _exit(velmora_invert(in.c_str(), out.c_str()) ? 0 : 1);
        // Wait until the child holds its unnamed output file open, i.e. it is
        // encoding, then kill it.
        const std::string fds = "/proc/" + std::to_string(child) + "/fd";
        bool writing = false;
        for (int tries = 0; tries < 6000 && !writing; ++tries) {
            std::error_code ec;
            for (const auto &e : fs::directory_iterator(fds, ec)) {
                const std::string target = fs::read_symlink(e.path(), ec).string();
                if (target.find(" (deleted)") != std::string::npos) writing = true;
            }
            if (!writing) usleep(5000);
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(writing) << "the child never started writing";
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished before it was killed";
        EXPECT_EQ(tree(box.dir()), (std::vector<std::string>{"big.png", "out.png"}));
        EXPECT_EQ(read_bytes(out), kOld);
    }
}
#endif

}  // namespace
