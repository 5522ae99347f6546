// Loading a shared library by the file name the system gives it, and binding
// its exported functions by name.
#ifndef KESTRANE_PLATFORM_MODULE_H_
#define KESTRANE_PLATFORM_MODULE_H_

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace kst {

// A loaded library. Destroying it unloads the library (the system keeps it
// mapped while another Module of the same file is alive), after which every
// function bound from it is invalid. One Module may be used from one thread
// at a time; binding is safe from any thread.
class Module {
 public:
  virtual ~Module() = default;

  // The exported function `name`, typed as Fn (a function type, not a
  // pointer), or nullptr when the library does not export it. The caller
  // vouches that Fn matches the export.
  template <typename Fn>
  Fn* Bind(std::string_view name) const {
    static_assert(std::is_function_v<Fn>, "Bind takes a function type");
    return reinterpret_cast<Fn*>(Symbol(name));
  }

 protected:
  // The address of the exported symbol `name`, or nullptr.
  virtual void* Symbol(std::string_view name) const = 0;
};

// Loads the library that `file_name` names, a text as the system builds it
// ("KestraneAlerter.dll" under the root directory, a plug-in's bare
// "Discovery.dll"). The text goes through NativePath; a name ending in ".dll"
// (any case) that does not exist is tried with ".so" in its place; a bare
// name (no folder) is looked for beside the running program first, then
// where the system's loader looks. Returns nullptr
// when no candidate loads; `error`, when given, then receives the reason.
// A name with a folder is loaded from the descriptor the library door
// (platform/root_doors.h) opened: run as root, a file that another user
// could have put in place is not loaded; without `error` the refusal is
// written to standard error.
std::unique_ptr<Module> LoadModule(std::string_view file_name,
                                   std::string* error = nullptr);

}  // namespace kst

#endif  // KESTRANE_PLATFORM_MODULE_H_
