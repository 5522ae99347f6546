// Test-only helpers of the registry. Never included by the system's programs.
#ifndef KESTRANE_PLATFORM_REGISTRY_TESTING_H_
#define KESTRANE_PLATFORM_REGISTRY_TESTING_H_

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kst {

// While set, the database counts as not writable by this process, as it does
// for a user without write permission (which tests running as root cannot
// otherwise see).
void SetRegistryReadOnlyForTesting(bool read_only);

// A private installation for one test: makes a fresh temporary folder, points
// KESTRANE_HOME at it for the object's lifetime, then removes it. Create it in
// SetUp (or as a fixture member); one per test at a time.
class TempKestraneHome {
 public:
  TempKestraneHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kst-home-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    ::setenv("KESTRANE_HOME", path_.c_str(), 1);
  }
  ~TempKestraneHome() {
    SetRegistryReadOnlyForTesting(false);
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
    ::unsetenv("KESTRANE_HOME");
  }
  TempKestraneHome(const TempKestraneHome&) = delete;
  TempKestraneHome& operator=(const TempKestraneHome&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kst

#endif  // KESTRANE_PLATFORM_REGISTRY_TESTING_H_
