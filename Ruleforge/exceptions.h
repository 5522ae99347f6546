// The plug-in's own exceptions. Both are thrown as pointers made with new:
//   throw new LoadDataException("Bad file format");
// and whoever catches one (as Exception*) owns it and deletes it.
#ifndef KESTRANE_RULEFORGE_EXCEPTIONS_H_
#define KESTRANE_RULEFORGE_EXCEPTIONS_H_

#include <string>

namespace kst {

class Exception {
 public:
  virtual ~Exception() = default;
  // The text of the failure; may be null.
  virtual const char* message() const = 0;
};

// Training data or a state file that cannot be read as expected.
class LoadDataException : public Exception {
 public:
  LoadDataException() = default;
  explicit LoadDataException(const char* text) : has_text_(text != nullptr), text_(text ? text : "") {}
  explicit LoadDataException(const std::string& text) : has_text_(true), text_(text) {}

  const char* message() const override { return has_text_ ? text_.c_str() : nullptr; }

 private:
  bool has_text_ = false;
  std::string text_;
};

}  // namespace kst

#endif  // KESTRANE_RULEFORGE_EXCEPTIONS_H_
