// kstctl product: the values directly under the product key, which the
// checking service, the alerter and the console read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "StatSubsystem/common/product_key.h"
#include "platform/registry.h"
#include "tools/kstctl/action_table.h"
#include "tools/kstctl/command.h"
#include "tools/kstctl/config_support.h"
#include "tools/kstctl/host_support.h"

namespace kst {
namespace {

constexpr const char* kCommand = "product";

// What the services accept: a text of at most `most` characters, or a
// number from `least` to `most`.
struct ProductValue {
  const char* name;
  RegType type;
  uint32_t least;
  uint32_t most;
  const char* range;  // said when a value is refused
};

const ProductValue kValues[] = {
    // The alerter reads it into 260 bytes, its terminating zero included.
    {"rootDirectory", kRegSz, 0, 259, "a text of at most 259 characters"},
    // The checking service takes it as a signed number, and stops on one below 1.
    {"intervalBetweenCheckings", kRegDword, 1, INT32_MAX, "a number from 1 to 2147483647"},
    {"userNotificationStatus", kRegDword, 0, UINT32_MAX, "a number from 0 to 4294967295"},
};

const ProductValue* Find(const std::string& name) {
  for (const ProductValue& v : kValues) {
    if (name == v.name) return &v;
  }
  return nullptr;
}

int Show(const ActionArgs&) {
  for (const ProductValue& v : kValues) {
    char buffer[1024];
    int result = 0;
    ReadProductValue("", v.name, v.type, buffer, sizeof buffer, &result);
    std::string shown = "(not set)";
    if (result >= 0 && v.type == kRegSz) {
      shown = std::string(buffer, strnlen(buffer, static_cast<size_t>(result)));
    } else if (result == 4 && v.type == kRegDword) {
      shown = std::to_string(DwordFromBytes(buffer));
    } else if (result >= 0 || result == -16) {
      shown = "(not set, or not a " + std::string(v.type == kRegSz ? "REG_SZ" : "REG_DWORD") + ")";
    }
    std::printf("%-26s %s\n", v.name, shown.c_str());
  }
  return 0;
}

int Set(const ActionArgs& args) {
  const ProductValue* value = Find(args[0]);
  if (value == nullptr) {
    std::fprintf(stderr, "kstctl %s: unknown value '%s' (see 'kstctl product --help')\n",
                 kCommand, args[0].c_str());
    return 2;
  }
  std::string data;
  uint32_t number = 0;
  const bool taken = value->type == kRegSz
                         ? args[1].size() <= value->most
                         : ParseUnsigned(args[1], &number) && number >= value->least &&
                               number <= value->most;
  if (!taken) {
    std::fprintf(stderr, "kstctl %s: %s takes %s, not '%s'\n", kCommand, value->name,
                 value->range, args[1].c_str());
    return 2;
  }
  if (value->type == kRegSz) {
    data = args[1];
    data.push_back('\0');
  } else {
    data = DwordBytes(number);
  }
  int result = 0;
  WriteProductValue("", value->name, value->type, data.data(),
                    static_cast<uint32_t>(data.size()), &result);
  if (result != 0) {
    return ConfigFail(kCommand, std::string("writing ") + value->name, result,
                      "the product key cannot be created or written");
  }
  return 0;
}

const Action kActions[] = {
    {"show", "show", "print the three values", 0, 0, Show},
    {"set", "set NAME VALUE", "write one of them", 2, 2, Set},
};

}  // namespace

int ProductCommand(const std::vector<std::string>& args) {
  return DispatchAction(kCommand, kActions,
                        "Reads and writes the values of the product key SOFTWARE\\Kestrane.\n",
                        "\nValues:\n"
                        "  rootDirectory             folder of the programs and data files, as\n"
                        "                            the system names it, at most 259 characters\n"
                        "                            (C:\\Program Files\\Kestrane stands for\n"
                        "                            $KESTRANE_HOME)\n"
                        "  intervalBetweenCheckings  milliseconds between two checks (1 to\n"
                        "                            2147483647; the checker waits in whole\n"
                        "                            seconds, so below 1000 the checks follow\n"
                        "                            each other without a pause)\n"
                        "  userNotificationStatus    0 switches notifications off, any other\n"
                        "                            number (up to 4294967295) on\n"
                        "\nThe checking service reads them when it starts; the alerter reads\n"
                        "userNotificationStatus at each reload ('kstctl reload').\n"
                        "\nExit status: 0 done, 1 failed, 2 wrong usage.\n",
                        args);
}

}  // namespace kst
