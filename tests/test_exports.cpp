// The library as a host sees it: loaded at run time, every declared function
// found by its plain name. This executable does not link the library.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::vector<std::string> declared_names() {
    std::ifstream f(VELMORA_HEADER_PATH);
    std::stringstream text;
    text << f.rdbuf();
    const std::string s = text.str();
    std::regex decl(R"(VELMORA_API\s+[^;(]*?\b(velmora_\w+)\s*\()");
    std::vector<std::string> names;
    for (std::sregex_iterator it(s.begin(), s.end(), decl), end; it != end; ++it)
        names.push_back((*it)[1]);
    return names;
}

#if defined(_WIN32)
void *open_library() { return reinterpret_cast<void *>(LoadLibraryA(VELMORA_LIBRARY_NAME)); }
void *find(void *lib, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name));
}
#else
void *open_library() { return dlopen(VELMORA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL); }
void *find(void *lib, const char *name) { return dlsym(lib, name); }
#endif

TEST(Exports, EveryDeclaredFunctionIsFoundByName) {
    void *lib = open_library();
    ASSERT_NE(lib, nullptr);
    const auto names = declared_names();
    ASSERT_GE(names.size(), 6u);
    for (const auto &name : names) EXPECT_NE(find(lib, name.c_str()), nullptr) << name;

    // Nothing has run yet: the text is empty, and the pointer is never null.
    using LastError = const char *(*)();
    auto last_error = reinterpret_cast<LastError>(find(lib, "velmora_last_error"));
    ASSERT_NE(last_error, nullptr);
    ASSERT_NE(last_error(), nullptr);
    EXPECT_STREQ(last_error(), "");

    using Adjust = int (*)(const char *, const char *);
    auto sepia = reinterpret_cast<Adjust>(find(lib, "velmora_sepia"));
    EXPECT_EQ(sepia(nullptr, "x.png"), 0);
    EXPECT_STREQ(last_error(), "sepia: NULL input/output");
}

TEST(Exports, InternalNamesAreHidden) {
    void *lib = open_library();
    ASSERT_NE(lib, nullptr);
    for (const char *name : {"run_op", "set_err", "read_file", "stbi_load_from_memory",
                             "stbi_write_png", "stbi_failure_reason"})
        EXPECT_EQ(find(lib, name), nullptr) << name;
}

}  // namespace
