// The library as a host sees it: loaded at run time, every declared function
// found by its plain name. This executable does not link the library.
#include <gtest/gtest.h>

#include "export_names.h"  // generated from velmora.h

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

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
    ASSERT_GE(VELMORA_EXPORT_COUNT, 6u);
    for (const char *name : velmora_export_names) EXPECT_NE(find(lib, name), nullptr) << name;

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
