// The manager's side of the service layer: the service database in the
// registry, starting programs, and controls sent to their dispatchers.

#include "platform/services.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/ascii.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services_channel.h"
#include "platform/services_testing.h"

namespace kst {

namespace sc = service_channel;

namespace {

std::atomic<int> g_start_timeout_ms{30000};

std::string KeyPath(std::string_view name) {
  return std::string(sc::kServicesKey) + "\\" + std::string(name);
}

bool HasValue(const RegistryKey& key, std::string_view value) {
  uint32_t size = 0;
  return key.QueryValue(value, nullptr, nullptr, &size) == kErrorSuccess;
}

std::string ReadText(const RegistryKey& key, std::string_view value) {
  std::string data;
  RegType type = 0;
  if (key.QueryValue(value, &type, &data) != kErrorSuccess || type != kRegSz) return {};
  size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  return data;
}

uint32_t ReadNumber(const RegistryKey& key, std::string_view value, uint32_t fallback) {
  unsigned char bytes[4];
  uint32_t size = sizeof(bytes);
  RegType type = 0;
  if (key.QueryValue(value, &type, bytes, &size) != kErrorSuccess || type != kRegDword ||
      size != 4) {
    return fallback;
  }
  return sc::Get32(bytes);
}

WinError WriteText(RegistryKey* key, std::string_view value, std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  return key->SetValue(value, kRegSz, data.data(), static_cast<uint32_t>(data.size()));
}

WinError WriteNumber(RegistryKey* key, std::string_view value, uint32_t number) {
  unsigned char bytes[4];
  sc::Put32(bytes, number);
  return key->SetValue(value, kRegDword, bytes, 4);
}

// An unquoted command line whose program path holds blanks: the program is
// the shortest run of words that names an existing program, as the stored
// path of a service is not quoted.
void ChooseProgram(const std::string& image_path, ProcessOptions* options) {
  size_t start = image_path.find_first_not_of(" \t");
  if (start == std::string::npos || image_path[start] == '"') return;
  size_t end = image_path.find_first_of(" \t", start);
  while (end != std::string::npos) {
    std::string candidate = image_path.substr(start, end - start);
    if (!ResolveProgram(candidate, nullptr).empty()) {
      if (candidate.find_first_of(" \t") != std::string::npos) options->application = candidate;
      return;
    }
    end = image_path.find_first_of(" \t", end + 1);
  }
  std::string whole = image_path.substr(start);
  if (whole.find_first_of(" \t") != std::string::npos &&
      !ResolveProgram(whole, nullptr).empty()) {
    options->application = whole;
  }
}

bool IsServing(std::string_view name) {
  int fd = -1;
  if (sc::Connect(name, &fd) != kErrorSuccess) return false;
  ::close(fd);
  return true;
}

// Holds the service's start lock for its lifetime.
class StartLock {
 public:
  explicit StartLock(std::string_view name) {
    fd_ = ::open(sc::ServiceFile(name, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~StartLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  WinError error() const { return fd_ >= 0 ? kErrorSuccess : sc::ErrnoToWinError(errno); }

 private:
  int fd_ = -1;
};

class ServiceImpl final : public Service {
 public:
  ServiceImpl(std::string name, uint32_t access) : Service(std::move(name)), access_(access) {}

  WinError SetDescription(std::string_view description) override {
    if ((access_ & kServiceChangeConfig) == 0) return kErrorAccessDenied;
    RegistryKey key;
    WinError error = OpenKey(RegAccess::kReadWrite, &key);
    if (error != kErrorSuccess) return error;
    return WriteText(&key, "Description", description);
  }

  WinError QueryConfig(ServiceConfig* config) override {
    if ((access_ & kServiceQueryConfig) == 0) return kErrorAccessDenied;
    RegistryKey key;
    WinError error = OpenKey(RegAccess::kRead, &key);
    if (error != kErrorSuccess) return error;
    config->name = name();
    config->display_name = ReadText(key, "DisplayName");
    config->image_path = ReadText(key, "ImagePath");
    config->description = ReadText(key, "Description");
    config->start_type = ReadNumber(key, "Start", kServiceDemandStart);
    return kErrorSuccess;
  }

  WinError Start() override {
    if ((access_ & kServiceStart) == 0) return kErrorAccessDenied;
    std::string image_path;
    {
      RegistryKey key;
      WinError error = OpenKey(RegAccess::kRead, &key);
      if (error != kErrorSuccess) return error;
      if (HasValue(key, "DeleteFlag")) return kErrorServiceMarkedForDelete;
      if (ReadNumber(key, "Start", kServiceDemandStart) == kServiceDisabled) {
        return kErrorServiceDisabled;
      }
      image_path = ReadText(key, "ImagePath");
    }
    if (const std::string unsafe = UnsafeInstallationReason(); !unsafe.empty()) {
      std::fprintf(stderr, "%s: refusing to start: %s\n", name().c_str(), unsafe.c_str());
      return kErrorAccessDenied;
    }
    WinError error = sc::EnsureRunFolder();
    if (error != kErrorSuccess) return error;
    StartLock lock(name());
    if (lock.error() != kErrorSuccess) return lock.error();
    if (IsServing(name())) return kErrorServiceAlreadyRunning;
    sc::ForgetFinalStatus(name());

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
      return sc::ErrnoToWinError(errno);
    }
    ::mkdir((KestraneHome() + "/log").c_str(), 0755);
    ProcessOptions options;
    options.hidden = true;
    options.output_file = ServiceLogPath(name());
    options.working_directory = "/";
    options.inherit_fd = pair[1];
    options.extra_environment = {
        std::string(sc::kStartupFdVariable) + "=" + std::to_string(pair[1]),
        std::string(sc::kNameVariable) + "=" + name(),
        "KESTRANE_HOME=" + KestraneHome(),
    };
    ChooseProgram(image_path, &options);
    error = StartDetachedProgram(image_path, options);
    ::close(pair[1]);
    if (error == kErrorSuccess) {
      unsigned char answer[4];
      if (!sc::ReadFully(pair[0], answer, sizeof(answer), g_start_timeout_ms.load())) {
        error = kErrorServiceRequestTimeout;
      } else {
        error = sc::Get32(answer);
      }
    }
    ::close(pair[0]);
    return error;
  }

  WinError Control(uint32_t control, ServiceStatus* status) override {
    uint32_t needed = 0;
    if (control == kServiceControlStop || control == kServiceControlShutdown) {
      needed = kServiceStop;
    } else if (control == kServiceControlPause || control == kServiceControlContinue) {
      needed = kServicePauseContinue;
    } else if (control == kServiceControlInterrogate) {
      needed = kServiceInterrogate;
    } else if (control >= kServiceUserControlFirst && control <= kServiceUserControlLast) {
      needed = kServiceUserDefinedControl;
    } else {
      return kErrorInvalidParameter;
    }
    if ((access_ & needed) == 0) return kErrorAccessDenied;
    ServiceStatus after;
    WinError answer = kErrorSuccess;
    WinError error = sc::Exchange(name(), {sc::kOperationControl, control}, &answer, &after);
    if (error != kErrorSuccess) return error;
    if (status != nullptr) *status = after;
    return answer;
  }

  WinError QueryStatus(ServiceStatus* status) override {
    if ((access_ & kServiceQueryStatus) == 0) return kErrorAccessDenied;
    ServiceStatus current;
    WinError answer = kErrorSuccess;
    WinError error = sc::Exchange(name(), {sc::kOperationQuery, 0}, &answer, &current);
    if (error == kErrorServiceNotActive) {
      current = ServiceStatus();
      sc::ReadFinalStatus(name(), &current);
      current.current_state = kServiceStopped;
    } else if (error != kErrorSuccess) {
      return error;
    } else if (answer != kErrorSuccess) {
      return answer;
    }
    *status = current;
    return kErrorSuccess;
  }

  WinError Delete() override {
    if ((access_ & kServiceDelete) == 0) return kErrorAccessDenied;
    RegistryKey key;
    WinError error = OpenKey(RegAccess::kReadWrite, &key);
    if (error != kErrorSuccess) return error;
    if (HasValue(key, "DeleteFlag")) return kErrorServiceMarkedForDelete;
    if (IsServing(name())) return WriteNumber(&key, "DeleteFlag", 1);
    key.Close();
    error = DeleteKeyTree(KeyPath(name()));
    return error == kErrorFileNotFound ? kErrorServiceDoesNotExist : error;
  }

 private:
  WinError OpenKey(RegAccess access, RegistryKey* key) {
    WinError error = RegistryKey::Open(KeyPath(name()), access, key);
    if (error == kErrorFileNotFound || error == kErrorKeyDeleted) {
      return kErrorServiceDoesNotExist;
    }
    return error;
  }

  uint32_t access_;
};

class ServiceManagerImpl final : public ServiceManager {
 public:
  explicit ServiceManagerImpl(uint32_t access) : access_(access) {}

  WinError CreateService(const ServiceConfig& config, uint32_t access,
                         std::unique_ptr<Service>* service) override {
    if ((access_ & kManagerCreateService) == 0) return kErrorAccessDenied;
    if (config.name.empty() || config.name.find_first_of("\\/") != std::string::npos) {
      return kErrorInvalidParameter;
    }
    std::string name = config.name;
    {
      RegistryKey existing;
      if (RegistryKey::Open(KeyPath(name), RegAccess::kRead, &existing) == kErrorSuccess) {
        name = CanonicalName(name);
        if (HasValue(existing, "ImagePath")) {
          if (!HasValue(existing, "DeleteFlag")) return kErrorServiceExists;
          if (IsServing(name)) return kErrorServiceMarkedForDelete;
          existing.Close();
          DeleteKeyTree(KeyPath(name));
        }
      }
    }
    RegistryKey key;
    WinError error = RegistryKey::Create(KeyPath(name), &key);
    if (error != kErrorSuccess) return error;
    const std::string& display = config.display_name.empty() ? name : config.display_name;
    if ((error = WriteNumber(&key, "Type", kServiceWin32OwnProcess)) != kErrorSuccess ||
        (error = WriteNumber(&key, "Start", config.start_type)) != kErrorSuccess ||
        (error = WriteText(&key, "DisplayName", display)) != kErrorSuccess ||
        (!config.description.empty() &&
         (error = WriteText(&key, "Description", config.description)) != kErrorSuccess) ||
        (error = WriteText(&key, "ImagePath", config.image_path)) != kErrorSuccess) {
      return error;
    }
    *service = std::make_unique<ServiceImpl>(name, access);
    return kErrorSuccess;
  }

  WinError OpenService(std::string_view name, uint32_t access,
                       std::unique_ptr<Service>* service) override {
    if (name.empty() || name.find_first_of("\\/") != std::string_view::npos) {
      return kErrorServiceDoesNotExist;
    }
    std::string canonical;
    {
      RegistryKey key;
      if (RegistryKey::Open(KeyPath(name), RegAccess::kRead, &key) != kErrorSuccess ||
          !HasValue(key, "ImagePath")) {
        return kErrorServiceDoesNotExist;
      }
      canonical = CanonicalName(name);
      if (HasValue(key, "DeleteFlag") && !IsServing(canonical)) {
        // Marked while running, and its program has ended since.
        key.Close();
        DeleteKeyTree(KeyPath(canonical));
        return kErrorServiceDoesNotExist;
      }
    }
    *service = std::make_unique<ServiceImpl>(canonical, access);
    return kErrorSuccess;
  }

  WinError ListServices(std::vector<std::string>* names) override {
    names->clear();
    RegistryKey services;
    WinError error = RegistryKey::Open(sc::kServicesKey, RegAccess::kRead, &services);
    if (error == kErrorFileNotFound) return kErrorSuccess;
    if (error != kErrorSuccess) return error;
    std::string name;
    for (uint32_t i = 0; services.EnumSubkey(i, &name) == kErrorSuccess; ++i) {
      RegistryKey key;
      if (RegistryKey::Open(KeyPath(name), RegAccess::kRead, &key) != kErrorSuccess ||
          !HasValue(key, "ImagePath")) {
        continue;
      }
      if (HasValue(key, "DeleteFlag") && !IsServing(name)) continue;  // gone once opened
      names->push_back(name);
    }
    return kErrorSuccess;
  }

 private:
  // The name as the service's key keeps it, which names its files.
  static std::string CanonicalName(std::string_view name) {
    RegistryKey services;
    if (RegistryKey::Open(sc::kServicesKey, RegAccess::kRead, &services) == kErrorSuccess) {
      std::string stored;
      for (uint32_t i = 0; services.EnumSubkey(i, &stored) == kErrorSuccess; ++i) {
        if (EqualNoCase(stored, name)) return stored;
      }
    }
    return std::string(name);
  }

  uint32_t access_;
};

}  // namespace

WinError ServiceManager::Open(uint32_t access, std::unique_ptr<ServiceManager>* manager) {
  if (access & kManagerCreateService) {
    RegistryKey key;
    WinError error = RegistryKey::Create(sc::kServicesKey, &key);
    if (error != kErrorSuccess) return error;
  }
  *manager = std::make_unique<ServiceManagerImpl>(access);
  return kErrorSuccess;
}

std::string ServiceLogPath(std::string_view name) {
  std::string file(name);
  for (char& c : file) {
    if (c == '/') c = '_';
  }
  return KestraneHome() + "/log/" + file + ".log";
}

void SetServiceStartTimeoutForTesting(int milliseconds) {
  g_start_timeout_ms = milliseconds;
}

}  // namespace kst
