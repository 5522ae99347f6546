// kstctl reg: reads and changes the registry, the stand-in for a registry
// editor.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"

namespace kst {

namespace {

using Args = ActionArgs;

int Fail(const std::string& message) {
  std::fprintf(stderr, "kstctl reg: %s\n", message.c_str());
  return 1;
}

std::string Describe(WinError err) {
  switch (err) {
    case kErrorFileNotFound:
      return "not found";
    case kErrorAccessDenied:
      return "access denied (the registry is not writable by this user)";
    case kErrorKeyDeleted:
      return "the key was deleted meanwhile";
    case kErrorRegistryIoFailed:
      return RegistryFailureCause() + " (registry error " + std::to_string(err) + ")";
    default:
      return "registry error " + std::to_string(err);
  }
}

int FailOn(const std::string& what, WinError err) {
  return Fail(what + ": " + Describe(err));
}

std::string TypeName(RegType type) {
  switch (type) {
    case kRegSz:
      return "REG_SZ";
    case kRegBinary:
      return "REG_BINARY";
    case kRegDword:
      return "REG_DWORD";
    case kRegMultiSz:
      return "REG_MULTI_SZ";
    default:
      return "type " + std::to_string(type);
  }
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string Shown(RegType type, const std::string& data) {
  if (type == kRegSz) return data.substr(0, data.find('\0'));
  if (type == kRegDword && data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(data[i]);
    char text[32];
    std::snprintf(text, sizeof text, "0x%08" PRIx32 " (%" PRIu32 ")", v, v);
    return text;
  }
  if (type == kRegMultiSz) {
    std::string out;
    size_t pos = 0;
    while (pos < data.size() && data[pos] != '\0') {
      size_t end = data.find('\0', pos);
      if (end == std::string::npos) end = data.size();
      if (!out.empty()) out += ' ';
      out += '"' + data.substr(pos, end - pos) + '"';
      pos = end + 1;
    }
    return out;
  }
  return Hex(data);
}

void PrintValue(const std::string& name, RegType type, const std::string& data) {
  std::printf("%s\t%s\t%s\n", name.empty() ? "(default)" : name.c_str(),
              TypeName(type).c_str(), Shown(type, data).c_str());
}

int PrintValues(const RegistryKey& key, const std::string& path) {
  std::string name, data;
  RegType type = 0;
  WinError err;
  for (uint32_t i = 0; (err = key.EnumValue(i, &name, &type, &data)) == kErrorSuccess; ++i)
    PrintValue(name, type, data);
  return err == kErrorNoMoreItems ? 0 : FailOn(path, err);
}

int OpenForReading(const std::string& path, RegistryKey* key) {
  WinError err = RegistryKey::Open(path, RegAccess::kRead, key);
  return err == kErrorSuccess ? 0 : FailOn("key '" + path + "'", err);
}

int Query(const Args& args) {
  RegistryKey key;
  if (int rc = OpenForReading(args[0], &key)) return rc;
  if (args.size() == 1) return PrintValues(key, args[0]);
  RegType type = 0;
  std::string data;
  WinError err = key.QueryValue(args[1], &type, &data);
  if (err != kErrorSuccess) return FailOn("value '" + args[1] + "'", err);
  PrintValue(args[1], type, data);
  return 0;
}

int List(const Args& args) {
  RegistryKey key;
  if (int rc = OpenForReading(args[0], &key)) return rc;
  if (int rc = PrintValues(key, args[0])) return rc;
  std::string name;
  WinError err;
  for (uint32_t i = 0; (err = key.EnumSubkey(i, &name)) == kErrorSuccess; ++i)
    std::printf("%s\\\n", name.c_str());
  return err == kErrorNoMoreItems ? 0 : FailOn(args[0], err);
}

bool ParseDword(const std::string& text, std::string* bytes) {
  if (text.empty()) return false;
  // Decimal unless "0x" leads: "010" is ten, not eight.
  size_t sign = text[0] == '-' ? 1 : 0;
  bool hex = text.compare(sign, 2, "0x") == 0 || text.compare(sign, 2, "0X") == 0;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
  if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > UINT32_MAX)
    return false;
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) bytes->push_back(static_cast<char>(u >> (8 * i)));
  return true;
}

bool ParseHex(const std::string& text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(static_cast<char>(hi << 4 | lo));
  }
  return true;
}

int Set(const Args& args) {
  const std::string& type_name = args[2];
  Args data(args.begin() + 3, args.end());
  RegType type = 0;
  std::string bytes;
  if (type_name == "string" && data.size() == 1) {
    type = kRegSz;
    bytes = data[0] + '\0';
  } else if (type_name == "dword" && data.size() == 1) {
    type = kRegDword;
    if (!ParseDword(data[0], &bytes))
      return Fail("'" + data[0] + "' is not a 32-bit number");
  } else if (type_name == "binary" && data.size() == 1) {
    type = kRegBinary;
    if (!ParseHex(data[0], &bytes))
      return Fail("'" + data[0] + "' is not hex digits, two per byte");
  } else if (type_name == "multi") {
    type = kRegMultiSz;
    for (const std::string& word : data) {
      if (word.empty()) return Fail("a multi-string cannot hold an empty string");
      bytes += word + '\0';
    }
    bytes += '\0';
  } else {
    std::fprintf(stderr,
                 "kstctl reg set: TYPE is string, dword or binary with one DATA "
                 "word, or multi with any number\n");
    return 2;
  }
  RegistryKey key;
  WinError err = RegistryKey::Create(args[0], &key);
  if (err != kErrorSuccess) return FailOn("key '" + args[0] + "'", err);
  err = key.SetValue(args[1], type, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (err != kErrorSuccess) return FailOn("value '" + args[1] + "'", err);
  return 0;
}

int DeleteValue(const Args& args) {
  RegistryKey key;
  WinError err = RegistryKey::Open(args[0], RegAccess::kReadWrite, &key);
  if (err != kErrorSuccess) return FailOn("key '" + args[0] + "'", err);
  err = key.DeleteValue(args[1]);
  return err == kErrorSuccess ? 0 : FailOn("value '" + args[1] + "'", err);
}

int DeleteKey(const Args& args) {
  if (args[0].find_first_not_of('\\') == std::string::npos)
    return Fail("refusing to delete HKEY_LOCAL_MACHINE itself");
  WinError err = DeleteKeyTree(args[0]);
  return err == kErrorSuccess ? 0 : FailOn("key '" + args[0] + "'", err);
}

const Action kActions[] = {
    {"query", "query KEY [VALUE]",
     "print one value of KEY, or all of its values", 1, 2, Query},
    {"set", "set KEY VALUE TYPE DATA...",
     "set a value, creating KEY and the keys above it as needed", 3, SIZE_MAX,
     Set},
    {"delete-value", "delete-value KEY VALUE", "delete one value of KEY", 2, 2,
     DeleteValue},
    {"delete-key", "delete-key KEY",
     "delete KEY with all its subkeys and values", 1, 1, DeleteKey},
    {"list", "list KEY", "print the values of KEY, then its subkeys", 1, 1,
     List},
};

constexpr const char kIntro[] =
    "Reads and changes the registry (HKEY_LOCAL_MACHINE) kept in\n"
    "$KESTRANE_HOME/registry.db. KEY is a path of key names separated\n"
    "by backslashes, e.g. 'SOFTWARE\\Kestrane' (quote it for the shell);\n"
    "key and value names compare without regard to case. VALUE '' is\n"
    "the key's default value.\n";

constexpr const char kNotes[] =
    "\n"
    "TYPE and DATA of set:\n"
    "  string WORD      REG_SZ, stored with its terminating zero\n"
    "  dword NUMBER     REG_DWORD, decimal or 0x hex, -2147483648 to 4294967295\n"
    "  multi WORD...    REG_MULTI_SZ, one string per word (none: empty list)\n"
    "  binary HEX       REG_BINARY, two hex digits per byte ('' for none)\n"
    "\n"
    "Values print as NAME<tab>TYPE<tab>DATA: REG_SZ as text, REG_DWORD as\n"
    "hex and decimal, REG_MULTI_SZ as quoted strings, others as hex.\n"
    "Subkeys print as NAME\\.\n"
    "Exit status: 0 done, 1 failed (missing key or value, access\n"
    "denied), 2 wrong usage.\n";

}  // namespace

int RegCommand(const std::vector<std::string>& args) {
  return DispatchAction("reg", kActions, kIntro, kNotes, args);
}

}  // namespace kst
