#include "KestraneAlerter/profile_set.h"

#include <filesystem>
#include <system_error>

#include "KestraneAlerter/configuration.h"
#include "KestraneAlerter/profile_list.h"
#include "KestraneAlerter/signal_checker.h"
#include "KestraneAlerter/text_file.h"
#include "platform/paths.h"

namespace kst {

ProfileSet::~ProfileSet() { clear(); }

void ProfileSet::clear() {
  defaultProfile_ = nullptr;
  while (!profiles_.empty()) profiles_.pop_back();
}

int ProfileSet::load() {
  clear();
  TextReader in("");
  if (!TextReader::Open(ProfileListFileName(), &in)) return -1;
  ProfileList list;
  ReadProfileList(in, &list);
  if (!list.startsWithAll) return -1;
  for (const std::string& name : list.names) {
    auto profile = std::make_unique<Profile>(name);
    profile->load(name, nullptr);
    profiles_.push_back(std::move(profile));
  }
  if (!list.hasDefaultMarker) return -1;
  if (list.hasDefaultLine) {
    for (const auto& profile : profiles_) {
      if (profile->name == list.defaultName) defaultProfile_ = profile.get();
    }
  }
  if (defaultProfile_ == nullptr && !profiles_.empty()) defaultProfile_ = profiles_.front().get();
  return 0;
}

int ProfileSet::saveAllProfiles() const {
  std::error_code error;
  std::filesystem::create_directory(NativePath(ProfilesFolder()), error);
  if (error) return -1;
  // The list last: it never names a file that does not hold what it should.
  for (const auto& profile : profiles_) {
    if (profile->save() != 0) return -1;
  }
  WholeTextFile list(ProfileListFileName());
  std::FILE* out = list.file();
  if (out == nullptr) return -1;
  bool ok = WriteText(out, "all:\n");
  for (size_t i = 0; ok && i < profiles_.size(); ++i) ok = WriteText(out, "%s\n", profiles_[i]->name.c_str());
  ok = ok && WriteText(out, "default:\n");
  if (ok && defaultProfile_ != nullptr) ok = WriteText(out, "%s\n", defaultProfile_->name.c_str());
  if (!ok || !list.Commit()) return -1;
  signalCheckingService();
  return 0;
}

Profile* ProfileSet::findProfile(const std::string& name) const {
  for (const auto& profile : profiles_) {
    if (profile->name == name) return profile.get();
  }
  return nullptr;
}

int ProfileSet::setDefaultProfile(const std::string& name) {
  Profile* profile = findProfile(name);
  if (profile == nullptr) return -1;
  defaultProfile_ = profile;
  return 0;
}

int ProfileSet::addProfile(const std::string& name) {
  if (findProfile(name) != nullptr) return -1;
  profiles_.push_back(std::make_unique<Profile>(name));
  return 0;
}

int ProfileSet::removeProfile(const std::string& name) {
  for (auto it = profiles_.begin(); it != profiles_.end(); ++it) {
    if ((*it)->name != name) continue;
    profiles_.erase(it);
    defaultProfile_ = profiles_.empty() ? nullptr : profiles_.front().get();
    return 0;
  }
  return -1;
}

std::vector<std::string> ProfileSet::profileNames() const {
  std::vector<std::string> names;
  for (const auto& profile : profiles_) names.push_back(profile->name);
  return names;
}

}  // namespace kst
