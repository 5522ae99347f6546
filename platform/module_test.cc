#include "platform/module.h"
#include "platform/registry_testing.h"

#include <filesystem>
#include <string>

#include "gtest/gtest.h"

namespace kst {
namespace {

namespace fs = std::filesystem;

using CountCallFn = int(int);

class ModuleTest : public ::testing::Test {
 protected:
  TempKestraneHome temp_home_;
  const std::string home_ = temp_home_.path();
  const std::string lib_ = KST_MODULE_TESTLIB;  // .../tests/module_testlib.so
};

TEST_F(ModuleTest, NamesAsTheSystemGivesThemFindTheLibrary) {
  fs::copy_file(lib_, home_ + "/Plugin.so");
  const std::string dll_path = lib_.substr(0, lib_.size() - 3) + ".dll";
  const std::string names[] = {
      lib_,                                        // the native path itself
      dll_path,                                    // ".dll" tried as ".so"
      "module_testlib.dll",                        // bare: beside the program
      "module_testlib.so",
      "C:\\Program Files\\Kestrane\\Plugin.dll",   // under the home folder
      "C:\\Program Files\\Kestrane\\Plugin.so",
  };
  for (const std::string& name : names) {
    std::string error;
    std::unique_ptr<Module> module = LoadModule(name, &error);
    ASSERT_NE(module, nullptr) << name << ": " << error;
    CountCallFn* count = module->Bind<CountCallFn>("CountCall");
    ASSERT_NE(count, nullptr) << name;
    EXPECT_EQ(count(0), 0) << name;
  }
}

TEST_F(ModuleTest, MissingLibraryOrFunctionGivesNull) {
  for (const char* name : {"", "no_such_library.dll", "C:\\Program Files\\Kestrane\\Plugin.dll",
                           "/nonexistent/folder/lib.so"}) {
    std::string error;
    EXPECT_EQ(LoadModule(name, &error), nullptr) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
  std::unique_ptr<Module> module = LoadModule(lib_);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Bind<CountCallFn>("NoSuchExport"), nullptr);
}

TEST_F(ModuleTest, BrokenLibraryFailsToLoad) {
  const std::string path = home_ + "/Broken.so";
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("not a library", f);
  fclose(f);
  std::string error;
  EXPECT_EQ(LoadModule("C:\\Program Files\\Kestrane\\Broken.dll", &error), nullptr);
  EXPECT_FALSE(error.empty());
}

TEST_F(ModuleTest, DestroyingTheModuleUnloadsTheLibrary) {
  {
    std::unique_ptr<Module> module = LoadModule(lib_);
    ASSERT_NE(module, nullptr);
    CountCallFn* count = module->Bind<CountCallFn>("CountCall");
    EXPECT_EQ(count(1), 1);
    EXPECT_EQ(count(1), 2);
    // A second load of the same file shares the library while both live.
    std::unique_ptr<Module> again = LoadModule(lib_);
    EXPECT_EQ(again->Bind<CountCallFn>("CountCall")(1), 3);
  }
  std::unique_ptr<Module> fresh = LoadModule(lib_);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->Bind<CountCallFn>("CountCall")(1), 1);
}

}  // namespace
}  // namespace kst
