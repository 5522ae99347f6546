#include "StatSubsystem/common/service_install.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/services.h"

namespace kst {

void InstallService(const ServiceIdentity& service) {
  // No step looks at the one before: each fails by itself when it must.
  std::unique_ptr<ServiceManager> manager;
  ServiceManager::Open(kManagerCreateService, &manager);
  ServiceConfig config;
  config.name = service.name;
  config.display_name = service.name;
  config.image_path = CurrentProgramPath() + " -service";
  config.start_type = kServiceAutoStart;
  std::unique_ptr<Service> created;
  if (manager != nullptr) manager->CreateService(config, kServiceChangeConfig, &created);
  if (created != nullptr) created->SetDescription(service.description);
}

void RemoveService(const ServiceIdentity& service) {
  std::unique_ptr<ServiceManager> manager;
  ServiceManager::Open(kManagerConnect, &manager);
  std::unique_ptr<Service> opened;
  if (manager != nullptr) {
    manager->OpenService(service.name, kServiceStop | kServiceDelete, &opened);
  }
  if (opened != nullptr) opened->Control(kServiceControlStop, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  if (opened != nullptr) opened->Delete();
}

}  // namespace kst
