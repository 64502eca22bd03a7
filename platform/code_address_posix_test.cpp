// The code address services on POSIX systems: paths with their directories,
// and the modules the loader names (the executable, a shared library).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/code_address.h"

namespace {

[[gnu::noinline]] void FunctionInThisExecutable() { asm volatile(""); }

TEST(ModuleBaseNamePosixTest, DropsTheDirectoryPart) {
  EXPECT_EQ(ModuleBaseName("/usr/lib/x86_64-linux-gnu/libc.so.6"), "libc.so.6");
}

TEST(FindCodeModulePosixTest, NamesTheExecutableAndASharedLibrary) {
  CodeModule module;
  auto own = reinterpret_cast<CodeAddress>(&FunctionInThisExecutable);
  ASSERT_TRUE(FindCodeModule(own, &module));
  EXPECT_LT(own - module.base, 64u << 20) << "an offset inside the image";

  void* libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(libc, nullptr);
  auto in_library = reinterpret_cast<CodeAddress>(dlsym(libc, "strverscmp"));
  dlclose(libc);
  ASSERT_TRUE(FindCodeModule(in_library, &module));
  EXPECT_EQ(ModuleBaseName(module.file_name), "libc.so.6");
  EXPECT_LE(module.base, in_library);
}

}  // namespace
