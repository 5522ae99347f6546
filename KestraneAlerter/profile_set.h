// All notification profiles, as the configuration dialog edits them:
// loaded from the profile list and the profile files, changed in memory,
// and written back by saveAllProfiles, which then asks the checking
// service to reload.
#ifndef KESTRANE_ALERTER_PROFILE_SET_H_
#define KESTRANE_ALERTER_PROFILE_SET_H_

#include <memory>
#include <string>
#include <vector>

#include "KestraneAlerter/profile.h"

namespace kst {

class ProfileSet {
 public:
  ProfileSet() = default;
  ~ProfileSet();
  ProfileSet(const ProfileSet&) = delete;
  ProfileSet& operator=(const ProfileSet&) = delete;

  void clear();
  // Reads the list file and every listed profile (a profile whose own file
  // is missing or broken is still listed); 0 or -1.
  int load();
  // Writes every profile file whole, then the list file the same way, then
  // signals the checking service; 0 or -1. When the folder cannot be made or
  // any file cannot be written, the list file stays as it was and the
  // checking service is not signalled.
  int saveAllProfiles() const;

  Profile* findProfile(const std::string& name) const;
  int setDefaultProfile(const std::string& name);
  int addProfile(const std::string& name);
  int removeProfile(const std::string& name);
  std::vector<std::string> profileNames() const;
  Profile* defaultProfile() const { return defaultProfile_; }
  int profileCount() const { return static_cast<int>(profiles_.size()); }

 private:
  std::vector<std::unique_ptr<Profile>> profiles_;
  Profile* defaultProfile_ = nullptr;  // one of profiles_, or null
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_PROFILE_SET_H_
