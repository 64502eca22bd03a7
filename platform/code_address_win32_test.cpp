// The code address services on Windows: paths with backslashes, and the
// modules the loader names (the executable, a system library).

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/code_address.h"

namespace {

[[gnu::noinline]] void FunctionInThisExecutable() { asm volatile(""); }

TEST(ModuleBaseNameWin32Test, DropsTheDirectoryPart) {
  EXPECT_EQ(ModuleBaseName("C:\\windows\\system32\\WS2_32.dll"), "WS2_32.dll");
  EXPECT_EQ(ModuleBaseName("Z:\\build\\bin\\status-monitor.exe"), "status-monitor.exe");
  EXPECT_EQ(ModuleBaseName("status-monitor.exe"), "status-monitor.exe");
  EXPECT_EQ(ModuleBaseName("C:\\dir\\"), "");
}

TEST(FindCodeModuleWin32Test, NamesTheExecutableAndASystemLibrary) {
  CodeModule module;
  auto own = reinterpret_cast<CodeAddress>(&FunctionInThisExecutable);
  ASSERT_TRUE(FindCodeModule(own, &module));
  EXPECT_EQ(module.base, reinterpret_cast<CodeAddress>(GetModuleHandleA(nullptr)));

  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto in_library = reinterpret_cast<CodeAddress>(GetProcAddress(kernel, "GetTickCount"));
  ASSERT_TRUE(FindCodeModule(in_library, &module));
  EXPECT_EQ(module.base, reinterpret_cast<CodeAddress>(kernel));
  EXPECT_EQ(_stricmp(std::string(ModuleBaseName(module.file_name)).c_str(), "kernel32.dll"), 0)
      << module.file_name;
}

}  // namespace
