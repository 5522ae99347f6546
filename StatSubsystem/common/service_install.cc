#include "StatSubsystem/common/service_install.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace kst {

namespace {

// Why the service database refused a change, naming its file.
std::string DatabaseRefusal(WinError error) {
  const std::string database = KestraneHome() + "/" + std::string(kRegistryFileName);
  if (error == kErrorAccessDenied) return "access denied to the service database " + database;
  if (error == kErrorServiceMarkedForDelete) {
    return "the service is marked for deletion and still running";
  }
  return "the service database " + database + " answered error " + std::to_string(error);
}

}  // namespace

bool InstallService(const ServiceIdentity& service, std::string* error) {
  std::unique_ptr<ServiceManager> manager;
  WinError opened = ServiceManager::Open(kManagerCreateService, &manager);
  if (opened != kErrorSuccess) {
    if (error != nullptr) *error = DatabaseRefusal(opened);
    return false;
  }
  ServiceConfig config;
  config.name = service.name;
  config.display_name = service.name;
  config.image_path = CurrentProgramPath() + " -service";
  config.start_type = kServiceAutoStart;
  std::unique_ptr<Service> created;
  WinError made = manager->CreateService(config, kServiceChangeConfig, &created);
  // Installed before: left as the first installation made it.
  if (made == kErrorServiceExists) return true;
  if (made != kErrorSuccess) {
    if (error != nullptr) *error = DatabaseRefusal(made);
    return false;
  }
  created->SetDescription(service.description);
  return true;
}

bool RemoveService(const ServiceIdentity& service, std::string* error) {
  std::unique_ptr<ServiceManager> manager;
  ServiceManager::Open(kManagerConnect, &manager);
  std::unique_ptr<Service> opened;
  if (manager != nullptr) {
    manager->OpenService(service.name, kServiceStop | kServiceDelete, &opened);
  }
  if (opened != nullptr) opened->Control(kServiceControlStop, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  if (opened == nullptr) return true;  // not installed: nothing to do
  WinError deleted = opened->Delete();
  // Gone meanwhile, or marked and going once its program ends.
  if (deleted == kErrorSuccess || deleted == kErrorServiceDoesNotExist ||
      deleted == kErrorServiceMarkedForDelete) {
    return true;
  }
  if (error != nullptr) *error = DatabaseRefusal(deleted);
  return false;
}

}  // namespace kst
