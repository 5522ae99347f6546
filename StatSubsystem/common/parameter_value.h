// One named, described, typed parameter of an analyzer instance: a text, an
// integer with limits and step, or a real with limits. The configuration tree
// stores it as one text line (line()); the analyzer plug-in hands lists of it
// across the plug-in boundary by reference, so the layout below (the virtual
// operations in this order) is shared by everything that links this library.
//
// Setters of the wrong kind, assigning from a parameter of kind none and
// copying one throw the int 1 (not an exception object); callers that can
// meet such a case catch it. No setter checks the limits; parse() does.
// Not thread-safe; one thread per object.
#ifndef KESTRANE_STATSUBSYSTEM_COMMON_PARAMETER_VALUE_H_
#define KESTRANE_STATSUBSYSTEM_COMMON_PARAMETER_VALUE_H_

#include <string>

namespace kst {

enum ParameterKind : int {
  kParamString = 0,
  kParamInt = 1,
  kParamReal = 2,
  kParamNone = 3,
};

class ParameterValue {
 public:
  // The value union, by kind. A string parameter owns both arrays (new[]);
  // they are never null while its kind is kParamString.
  struct StringData {
    char* value;
    char* defaultValue;
  };
  struct IntData {
    int value, defaultValue, minimum, maximum, step;
  };
  struct RealData {
    double value, defaultValue, minimum, maximum;
  };
  union Data {
    StringData s;
    IntData i;
    RealData r;
  };

  // Kind none, empty name and description.
  ParameterValue();
  // Kind none, then assign(other): throws 1 when other is of kind none.
  ParameterValue(const ParameterValue& other);
  // Kind string; a null text counts as empty.
  ParameterValue(const std::string& name, const std::string& description,
                 const char* value, const char* defaultValue);
  // Kind real.
  ParameterValue(const std::string& name, const std::string& description,
                 double value, double defaultValue, double minimum,
                 double maximum);
  // Kind integer. parse() refuses every text while step is 0.
  ParameterValue(const std::string& name, const std::string& description,
                 int value, int defaultValue, int minimum, int maximum,
                 int step);
  // assign(other).
  ParameterValue& operator=(const ParameterValue& other);

  // Kind string: replaces the value with a copy of text (null: empty).
  virtual void setString(const char* text);
  // Kind real: value = v.
  virtual void setReal(double v);
  // Kind integer: value = v; kind real: value = v as a double.
  virtual void setInt(int v);
  // clear(), then copy kind, name, description and the value union (texts
  // as new copies). Throws 1 for a source of kind none, leaving this of
  // kind none with the source's name and description.
  virtual void assign(const ParameterValue& other);
  virtual ~ParameterValue();
  virtual ParameterKind& kind();
  virtual const char* name() const;
  virtual const char* description() const;
  // Frees a string parameter's texts; the kind becomes none. Name and
  // description stay.
  virtual void clear();

  // Sets the value from text when the text is valid for the kind and within
  // the limits; returns whether it did. Integers: an optional '-' then
  // decimal digits only, minimum <= v <= maximum, (v - minimum) a multiple
  // of step. Reals: an optional '-' then digits with at most one '.', no
  // exponent, minimum <= v <= maximum. Strings: any text. Kind none: false.
  // Never throws; a false result leaves the value unchanged.
  bool parse(const char* text);

  // The stored line: "INT %s=%d", "FLOAT %s=%.5f" or "STRING %s=%s" with
  // name and value; empty for kind none.
  std::string line() const;

  ParameterKind kind() const { return kind_; }
  const Data& data() const { return data_; }
  Data& data() { return data_; }

 private:
  Data data_;
  ParameterKind kind_;
  std::string name_;
  std::string description_;
};

}  // namespace kst

#endif  // KESTRANE_STATSUBSYSTEM_COMMON_PARAMETER_VALUE_H_
