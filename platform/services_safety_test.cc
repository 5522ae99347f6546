#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/root_doors.h"
#include "platform/services.h"

namespace kst {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;

class ServicesSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "the refusal guards services run as root";
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create("SOFTWARE", &key), kErrorSuccess);  // makes the database
    fs::create_directory(home_.path() + "/log");
    fs::create_directory(outside_);
    for (const auto& [folder, mode] : {std::pair{writable_, 0777}, std::pair{sticky_, 01777}}) {
      fs::create_directories(folder + "/root");
      ::chmod(folder.c_str(), static_cast<mode_t>(mode));
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(outside_, ignored);
  }

  TempKestraneHome home_;
  const std::string outside_ = home_.path() + ".outside";  // where another user would point a link
  // Folders in it that every user may write, plain and sticky, each
  // holding a folder of root's.
  const std::string writable_ = outside_ + "/writable", sticky_ = outside_ + "/tmp";
};

TEST_F(ServicesSafetyTest, EveryWayAnotherUserCouldChangeTheInstallationIsNamed) {
  const std::string home = home_.path();
  const std::string db = home + "/registry.db";
  const std::string tail = "; only root may own and change it";
  // What a root service reads, loads or starts in its home.
  fs::create_directory(home + "/run");
  ::chmod((home + "/run").c_str(), 0700);
  for (const char* folder : {"/States", "/Profiles"}) fs::create_directory(home + folder);
  for (const char* file : {"/States/i1.state", "/Profiles/_default_.cfg", "/Profiles/Ops.cfg",
                           "/KestraneAlerter.so", "/Discovery.so", "/cbuffer"}) {
    std::ofstream(home + file) << "x";
  }
  EXPECT_EQ(UnsafeInstallationReason(), "");
  auto own = [](const std::string& path, uid_t user) { ::lchown(path.c_str(), user, 0); };
  auto mode = [](const std::string& path, mode_t m) { ::chmod(path.c_str(), m); };
  const std::string ops = home + "/Profiles/Ops.cfg", kept = outside_ + "/Ops.cfg";
  const std::string open = outside_ + "/open", sticky = outside_ + "/sticky";
  struct Case {
    const char* what;
    std::function<void()> make, undo;
    std::string reason;  // empty: accepted
  } cases[] = {
      {"home group-writable", [&] { mode(home, 0770); }, [&] { mode(home, 0700); },
       home + " may be written by its group or by other users"},
      {"home other-writable", [&] { mode(home, 0703); }, [&] { mode(home, 0700); },
       home + " may be written by its group or by other users"},
      {"home of another user", [&] { own(home, kOtherUser); }, [&] { own(home, 0); },
       home + " belongs to user 65534, not root"},
      {"log folder a link",
       [&] { fs::remove(home + "/log"); fs::create_directory_symlink(outside_, home + "/log"); },
       [&] { fs::remove(home + "/log"); fs::create_directory(home + "/log"); }, home + "/log is a symbolic link"},
      {"log folder writable", [&] { mode(home + "/log", 0777); }, [&] { mode(home + "/log", 0755); },
       home + "/log may be written by its group or by other users"},
      {"run folder a link",
       [&] { fs::remove(home + "/run"); fs::create_directory_symlink(outside_, home + "/run"); },
       [&] { fs::remove(home + "/run"); fs::create_directory(home + "/run"); }, home + "/run is a symbolic link"},
      {"database writable", [&] { mode(db, 0666); }, [&] { mode(db, 0644); },
       db + " may be written by its group or by other users"},
      {"database of another user", [&] { own(db, 1); }, [&] { own(db, 0); }, db + " belongs to user 1, not root"},
      {"journal a link",
       [&] { fs::rename(db + "-wal", outside_ + "/wal"); fs::create_symlink(outside_ + "/wal", db + "-wal"); },
       [&] { fs::remove(db + "-wal"); fs::rename(outside_ + "/wal", db + "-wal"); },
       db + "-wal is a symbolic link"},
      // Under the home a sticky folder protects nothing: another user could
      // make a file root would read there.
      {"home sticky", [&] { mode(home, 01777); }, [&] { mode(home, 0700); },
       home + " may be written by its group or by other users"},
      {"sticky folder under the home", [&] { mode(home + "/States", 01777); },
       [&] { mode(home + "/States", 0755); }, home + "/States may be written by its group or by other users"},
      {"States of another user", [&] { own(home + "/States", kOtherUser); }, [&] { own(home + "/States", 0); },
       home + "/States belongs to user 65534, not root"},
      {"a state file others may write", [&] { mode(home + "/States/i1.state", 0666); },
       [&] { mode(home + "/States/i1.state", 0644); },
       home + "/States/i1.state may be written by its group or by other users"},
      {"Profiles group-writable", [&] { mode(home + "/Profiles", 0775); }, [&] { mode(home + "/Profiles", 0755); },
       home + "/Profiles may be written by its group or by other users"},
      {"default profile of another user", [&] { own(home + "/Profiles/_default_.cfg", kOtherUser); },
       [&] { own(home + "/Profiles/_default_.cfg", 0); },
       home + "/Profiles/_default_.cfg belongs to user 65534, not root"},
      {"profile swapped for another user's link",
       [&] { fs::rename(ops, kept); fs::create_symlink(kept, ops); own(ops, kOtherUser); },
       [&] { fs::remove(ops); fs::rename(kept, ops); }, ops + " belongs to user 65534, not root"},
      {"root's link to a profile others may write",
       [&] { fs::rename(ops, kept); mode(kept, 0666); fs::create_symlink(kept, ops); },
       [&] { fs::remove(ops); mode(kept, 0644); fs::rename(kept, ops); },
       kept + " may be written by its group or by other users"},
      // A relative target is taken from the link's folder, not the current one.
      {"root's relative link to a profile others may write",
       [&] {
         fs::rename(ops, kept);
         mode(kept, 0666);
         fs::create_symlink("../../" + fs::path(outside_).filename().string() + "/Ops.cfg", ops);
       },
       [&] { fs::remove(ops); mode(kept, 0644); fs::rename(kept, ops); },
       kept + " may be written by its group or by other users"},
      {"alerter group-writable", [&] { mode(home + "/KestraneAlerter.so", 0664); },
       [&] { mode(home + "/KestraneAlerter.so", 0644); },
       home + "/KestraneAlerter.so may be written by its group or by other users"},
      {"plug-in of another user", [&] { own(home + "/Discovery.so", kOtherUser); },
       [&] { own(home + "/Discovery.so", 0); }, home + "/Discovery.so belongs to user 65534, not root"},
      {"exporter a link to another user's program",
       [&] {
         std::ofstream(outside_ + "/exporter") << "x";
         own(outside_ + "/exporter", kOtherUser);
         fs::create_symlink(outside_ + "/exporter", home + "/KestraneExporter");
       },
       [&] { fs::remove(home + "/KestraneExporter"); fs::remove(outside_ + "/exporter"); },
       outside_ + "/exporter belongs to user 65534, not root"},
      {"buffer others may write", [&] { mode(home + "/cbuffer", 0646); }, [&] { mode(home + "/cbuffer", 0644); },
       home + "/cbuffer may be written by its group or by other users"},
      {"link to a missing file where others may make it",
       [&] {
         fs::create_directory(open);
         mode(open, 0777);
         fs::create_symlink(open + "/missing", home + "/Other.so");
       },
       [&] { fs::remove(home + "/Other.so"); fs::remove(open); },
       open + " may be written by its group or by other users"},
      {"link to itself", [&] { fs::create_symlink(home + "/loop", home + "/loop"); },
       [&] { fs::remove(home + "/loop"); }, home + "/loop leads through too many symbolic links"},
      // A sticky folder of root's keeps root's files from others.
      {"root's link to root's file in a sticky folder",
       [&] {
         fs::create_directory(sticky);
         mode(sticky, 01777);
         std::ofstream(sticky + "/Other.so") << "x";
         fs::create_symlink(sticky + "/Other.so", home + "/Other.so");
       },
       [&] { fs::remove(home + "/Other.so"); fs::remove_all(sticky); }, ""},
  };
  for (const Case& c : cases) {
    c.make();
    EXPECT_EQ(UnsafeInstallationReason(), c.reason.empty() ? "" : c.reason + tail) << c.what;
    c.undo();
    EXPECT_EQ(UnsafeInstallationReason(), "") << c.what;
  }
}

// A home moved elsewhere through a link counts when root owns the link and
// its target passes as a home.
TEST_F(ServicesSafetyTest, HomeThroughALinkOfRootsCounts) {
  const std::string home = home_.path();
  const std::string tail = "; only root may own and change it";
  const std::string link = home + ".link", hop = home + ".hop", relative = home + ".relative";
  const std::string above = home + ".above", nested = above + "/home";
  fs::create_directory_symlink(home, link);
  fs::create_directory_symlink(link, hop);
  fs::create_directory_symlink(fs::path(home).filename(), relative);
  fs::create_directories(nested + "/log");
  ::chmod(nested.c_str(), 0700);
  struct Case {
    const char* what;
    std::string named;  // KESTRANE_HOME
    std::function<void()> make, undo;
    std::string reason;  // empty: accepted
  } cases[] = {
      {"root's link", link + "/", [] {}, [] {}, ""},
      {"root's link to root's link", hop, [] {}, [] {}, ""},
      {"root's link with a relative target", relative, [] {}, [] {}, ""},
      // Every folder from "/" down counts, not only the home.
      {"root's folder above the home", nested, [] {}, [] {}, ""},
      {"a folder above the home of another user", nested, [&] { ::lchown(above.c_str(), kOtherUser, 0); },
       [&] { ::lchown(above.c_str(), 0, 0); }, above + " belongs to user 65534, not root"},
      {"a folder above the home others may write", nested, [&] { ::chmod(above.c_str(), 0757); },
       [&] { ::chmod(above.c_str(), 0755); }, above + " may be written by its group or by other users"},
      {"another user's link", link, [&] { ::lchown(link.c_str(), kOtherUser, 0); },
       [&] { ::lchown(link.c_str(), 0, 0); }, link + " belongs to user 65534, not root"},
      {"a link to another user's link", hop, [&] { ::lchown(link.c_str(), kOtherUser, 0); },
       [&] { ::lchown(link.c_str(), 0, 0); }, link + " belongs to user 65534, not root"},
      {"root's link to a home others may write", link, [&] { ::chmod(home.c_str(), 0777); },
       [&] { ::chmod(home.c_str(), 0700); }, home + " may be written by its group or by other users"},
      {"root's link, log folder a link", link,
       [&] { fs::remove(home + "/log"); fs::create_directory_symlink(outside_, home + "/log"); },
       [&] { fs::remove(home + "/log"); fs::create_directory(home + "/log"); }, link + "/log is a symbolic link"},
  };
  for (const Case& c : cases) {
    ::setenv("KESTRANE_HOME", c.named.c_str(), 1);
    c.make();
    EXPECT_EQ(UnsafeInstallationReason(), c.reason.empty() ? "" : c.reason + tail) << c.what;
    c.undo();
  }
  ::setenv("KESTRANE_HOME", home.c_str(), 1);
  fs::remove(hop);
  fs::remove(link);
  fs::remove(relative);
  fs::remove_all(above);
}

// Root loads no library and runs no program that another user could have
// put in place, wherever it lies; a refusal names the file and the reason.
TEST_F(ServicesSafetyTest, LibrariesAndProgramsOthersCouldPlaceAreRefused) {
  const std::string tail = "; only root may own and change it";
  const std::string& open = writable_;
  const std::string& sticky = sticky_;
  fs::create_directory(home_.path() + "/shared");
  ::chmod((home_.path() + "/shared").c_str(), 01777);
  struct Case {
    const char* what;
    std::string file;
    uid_t owner;
    std::string reason;  // empty: used
  } cases[] = {
      {"root's, in root's folder", outside_ + "/mine", 0, ""},
      {"another user's", outside_ + "/theirs", kOtherUser, outside_ + "/theirs belongs to user 65534, not root"},
      {"root's, in a folder others may write", open + "/mine", 0,
       open + " may be written by its group or by other users"},
      {"root's, two levels under a folder others may write", open + "/root/mine", 0,
       open + " may be written by its group or by other users"},
      {"root's, in root's sticky folder", sticky + "/mine", 0, ""},
      {"another user's, in root's sticky folder", sticky + "/theirs", kOtherUser,
       sticky + "/theirs belongs to user 65534, not root"},
      {"root's, in a sticky folder under the home", home_.path() + "/shared/mine", 0,
       home_.path() + "/shared may be written by its group or by other users"},
      {"under the home, another user's", home_.path() + "/theirs", kOtherUser,
       home_.path() + "/theirs belongs to user 65534, not root"},
  };
  for (const Case& c : cases) {
    std::ofstream(c.file) << "#!/bin/sh\necho ran > " << c.file << ".ran\n";
    ::chmod(c.file.c_str(), 0755);
    ::lchown(c.file.c_str(), c.owner, 0);
    EXPECT_EQ(UnsafePathReason(c.file), c.reason.empty() ? "" : c.reason + tail) << c.what;

    // Not a library: one that may be loaded fails in the loader instead.
    const std::string refusal = "refusing to load " + c.file + " as root: " + c.reason + tail;
    std::string error;
    EXPECT_EQ(LoadModule(c.file, &error), nullptr) << c.what;
    EXPECT_EQ(error == refusal, !c.reason.empty()) << c.what << ": " << error;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(LoadModule(c.file), nullptr) << c.what;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.reason.empty() ? "" : refusal + "\n")
        << c.what;

    ::testing::internal::CaptureStderr();
    uint32_t exit_code = 99;
    const WinError run = RunProgramAndWait(c.file, ProcessOptions(), &exit_code);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              c.reason.empty() ? "" : "refusing to run " + c.file + " as root: " + c.reason + tail + "\n")
        << c.what;
    EXPECT_EQ(run, c.reason.empty() ? kErrorSuccess : kErrorAccessDenied) << c.what;
    EXPECT_EQ(fs::exists(c.file + ".ran"), c.reason.empty()) << c.what;
    fs::remove(c.file);
    fs::remove(c.file + ".ran");
  }

  // A script of root's runs only when its interpreter is a program root
  // would run.
  const std::string interpreter = outside_ + "/interpreter", script = outside_ + "/script";
  std::ofstream(interpreter) << "#!/bin/sh\nexec /bin/sh \"$@\"\n";
  std::ofstream(script) << "#!" << interpreter << "\necho ran > " << script << ".ran\n";
  for (const std::string& file : {interpreter, script}) ::chmod(file.c_str(), 0755);
  for (const uid_t owner : {kOtherUser, uid_t{0}}) {
    ::chown(interpreter.c_str(), owner, 0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RunProgramAndWait(script, ProcessOptions(), nullptr), owner == 0 ? kErrorSuccess : kErrorAccessDenied);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              owner == 0 ? "" : "refusing to run " + script + " as root: " + interpreter +
                                    " belongs to user 65534, not root" + tail + "\n");
    EXPECT_EQ(fs::exists(script + ".ran"), owner == 0) << owner;
  }
  std::ofstream(script) << "#!interpreter\necho ran > " << script << ".ran\n";
  fs::remove(script + ".ran");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunProgramAndWait(script, ProcessOptions(), nullptr), kErrorAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "refusing to run " + script + " as root: " + script + " names its interpreter interpreter by a relative path\n");
  EXPECT_FALSE(fs::exists(script + ".ran"));
}

// Where only a name can be used (the registry's journals), a missing file
// counts only where no other user could make it, nor a folder on the way.
TEST_F(ServicesSafetyTest, AMissingNameCountsOnlyWhereNoOtherUserCouldMakeIt) {
  const std::string tail = "; only root may own and change it";
  const std::string& sticky = sticky_;
  const std::string& open = writable_;
  const struct {
    std::string path, reason;  // empty: usable
  } cases[] = {
      {outside_ + "/missing", ""},
      {sticky + "/root/missing", ""},
      {sticky + "/missing", sticky + " may be written by its group or by other users"},
      {sticky + "/missing/deeper", sticky + " may be written by its group or by other users"},
      {sticky + "/root/../missing", sticky + " may be written by its group or by other users"},
      {sticky + "/root/./missing", ""},
      {open + "/missing", open + " may be written by its group or by other users"},
      {outside_ + "/missing/deeper", ""},
      {outside_ + "/plain/deeper", outside_ + "/plain/deeper cannot be examined (Not a directory)"},
  };
  std::ofstream(outside_ + "/plain") << "x";
  for (const auto& c : cases) {
    EXPECT_EQ(UnsafePathReason(c.path), c.reason.empty() ? "" : c.reason + tail) << c.path;
  }
}

// A file is written whole under a temporary name in a folder held by its
// descriptor and renamed into place there; only a folder no other user may
// write is held, sticky or not, and only regular files in it are opened.
TEST_F(ServicesSafetyTest, ADataFolderWritesAFileWholeAndRenamesItInPlace) {
  const std::string tail = "; only root may own and change it";
  const std::string theirs = outside_ + "/theirs";
  fs::create_directory(theirs);
  ::chown(theirs.c_str(), kOtherUser, kOtherUser);
  const struct {
    std::string folder, refusal;
  } refused[] = {
      {writable_, writable_ + " may be written by its group or by other users" + tail},
      {sticky_, sticky_ + " may be written by its group or by other users" + tail},
      {theirs, theirs + " belongs to user 65534, not root" + tail},
  };
  for (const auto& c : refused) {
    DataFolder folder;
    std::string refusal;
    EXPECT_FALSE(folder.Open(c.folder, &refusal)) << c.folder;
    EXPECT_EQ(refusal, c.refusal);
  }

  const std::string profiles = outside_ + "/Profiles";
  fs::create_directory(profiles);
  std::ofstream(profiles + "/Ops.cfg") << "old";
  DataFolder folder;
  std::string refusal, name;
  ASSERT_TRUE(folder.Open(profiles, &refusal)) << refusal;
  const int fd = folder.CreateTemporary("Ops.cfg.", 0644, &name);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(name.rfind("Ops.cfg.", 0), 0u);
  EXPECT_EQ(name.size(), 8u + 6u);
  EXPECT_EQ(::write(fd, "new", 3), 3);
  ::close(fd);
  {
    // Under a umask that lets the group write, what root makes is still
    // root's alone, and so not refused as soon as it is made.
    const mode_t saved = ::umask(002);
    std::string made;
    const int fresh = folder.CreateTemporary("Ops.cfg.", 0666, &made);
    ::umask(saved);
    ASSERT_GE(fresh, 0) << "a new file under umask 002: " << std::strerror(errno);
    struct stat st {};
    ASSERT_EQ(::fstat(fresh, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ::close(fresh);
    EXPECT_TRUE(folder.Remove(made));
  }
  // Moving the folder's name away does not move what the folder writes.
  fs::rename(profiles, profiles + ".moved");
  fs::create_directory(profiles);
  EXPECT_TRUE(folder.Rename(name, "Ops.cfg"));
  std::ifstream in(profiles + ".moved/Ops.cfg");
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "new");
  EXPECT_FALSE(fs::exists(profiles + ".moved/" + name));
  EXPECT_FALSE(fs::exists(profiles + "/Ops.cfg"));

  const std::string held = profiles + ".moved";
  ASSERT_EQ(::mkfifo((held + "/pipe").c_str(), 0644), 0);
  fs::create_symlink(held + "/Ops.cfg", held + "/link");
  const struct {
    std::string name, refusal;
  } files[] = {
      {"pipe", profiles + "/pipe is not a regular file; only a regular file is used there"},
      {"link", profiles + "/link is a symbolic link" + tail},
      {"../Ops.cfg", ""},
  };
  for (const auto& f : files) {
    std::string why;
    EXPECT_LT(folder.OpenFile(f.name, O_RDONLY, 0, &why), 0) << f.name;
    EXPECT_EQ(why, f.refusal) << f.name;
  }
  EXPECT_TRUE(folder.Remove("pipe"));
  EXPECT_FALSE(fs::exists(held + "/pipe"));
}

// The manager neither starts the program nor opens its log where a link
// points: not with the log folder a link, nor with the log file one.
TEST_F(ServicesSafetyTest, StartRefusesAnUnsafeInstallationAndNeverFollowsTheLog) {
  std::unique_ptr<ServiceManager> manager;
  ASSERT_EQ(ServiceManager::Open(kManagerConnect | kManagerCreateService, &manager), kErrorSuccess);
  ServiceConfig config;
  config.name = "Safety Test";
  config.image_path = "/bin/echo leaked";
  std::unique_ptr<Service> service;
  ASSERT_EQ(manager->CreateService(config, kServiceStart, &service), kErrorSuccess);

  const std::string elsewhere = outside_ + "/elsewhere";
  fs::create_directory(elsewhere);
  fs::remove(home_.path() + "/log");
  fs::create_directory_symlink(elsewhere, home_.path() + "/log");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(service->Start(), kErrorAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Safety Test: refusing to start: " + home_.path() +
                "/log is a symbolic link; only root may own and change it\n");
  EXPECT_TRUE(fs::is_empty(elsewhere));

  fs::remove(home_.path() + "/log");
  fs::create_directory(home_.path() + "/log");
  const std::string target = outside_ + "/target";
  std::ofstream(target) << "kept";
  fs::create_symlink(target, home_.path() + "/log/Safety Test.log");
  EXPECT_NE(service->Start(), kErrorSuccess);
  std::ifstream in(target);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "kept");
  fs::remove(home_.path() + "/log/Safety Test.log");

  // The service's own program, when another user could have put it there.
  const std::string program = outside_ + "/program";
  std::ofstream(program) << "#!/bin/sh\necho ran > " << program << ".ran\n";
  ::chmod(program.c_str(), 0755);
  ::chown(program.c_str(), kOtherUser, 0);
  config.name = "Planted";
  config.image_path = program + " -service";
  ASSERT_EQ(manager->CreateService(config, kServiceStart, &service), kErrorSuccess);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(service->Start(), kErrorAccessDenied);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "refusing to run " + program + " as root: " + program +
                " belongs to user 65534, not root; only root may own and change it\n");
  EXPECT_FALSE(fs::exists(program + ".ran"));
}


// ---- Another user racing root's doors ----

// The file another user plants in each way a path can be changed under
// root: a folder of theirs above root's folder (exchanged with one of theirs),
// a name missing in root's sticky folder (made and removed), a link of theirs
// (swapped), root's own link through their folder; and root's own folder in
// the sticky folder, which they try to exchange but cannot.
struct RacePaths {
  std::string race, sticky, evil, link;
  std::vector<std::string> targets;  // what root uses, in turn
  std::string protected_target;      // the one that must always work
};

RacePaths MakeRacePaths(const std::string& base, const std::string& file) {
  RacePaths p;
  p.race = base + "/race";
  p.sticky = base + "/sticky";
  p.evil = base + "/evil";
  p.link = base + "/link";
  p.protected_target = p.sticky + "/mine/" + file;
  p.targets = {p.race + "/a/" + file, p.sticky + "/" + file, p.link + "/" + file,
               p.race + "/lnk/" + file, p.protected_target};
  return p;
}

// Exchanges, makes, removes and swaps, as the user nobody, until killed (at
// most two minutes).
[[noreturn]] void Attack(const RacePaths& p, const std::string& file) {
  const std::string a = p.race + "/a", b = p.race + "/b", lnk = p.race + "/lnk";
  const std::string next = p.race + "/lnk.next", planted = p.sticky + "/" + file;
  const std::string evil = p.evil + "/" + file, theirs = p.sticky + "/theirs", mine = p.sticky + "/mine";
  if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) _exit(3);
  ::alarm(120);
  for (unsigned i = 0;; ++i) {
    ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
    if (i % 2 == 0) {
      ::link(evil.c_str(), planted.c_str());
    } else {
      ::unlink(planted.c_str());
    }
    ::syscall(SYS_renameat2, AT_FDCWD, theirs.c_str(), AT_FDCWD, mine.c_str(), RENAME_EXCHANGE);
    ::symlink(i % 4 < 2 ? "a" : "b", next.c_str());
    ::rename(next.c_str(), lnk.c_str());
  }
}

enum class Use { kRoots, kOthers, kNone };

// The inode of the file mapped at `address`.
uint64_t MappedInode(const void* address) {
  std::ifstream maps("/proc/self/maps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  std::string line;
  while (std::getline(maps, line)) {
    unsigned long lo = 0, hi = 0, offset = 0;
    unsigned long long inode = 0;
    char perms[8], device[16];
    if (std::sscanf(line.c_str(), "%lx-%lx %7s %lx %15s %llu", &lo, &hi, perms, &offset, device,
                    &inode) == 6 &&
        lo <= at && at < hi) {
      return inode;
    }
  }
  return 0;
}

struct RaceKind {
  const char* what;
  const char* file;
  std::string roots_content, others_content;
  std::function<Use(const std::string& path)> use;
};

TEST_F(ServicesSafetyTest, AnotherUserRacingTheDoorsNeverGetsTheirFileUsed) {
  const std::string lib = KST_MODULE_TESTLIB;
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::string library = slurp(lib);
  std::set<uint64_t> roots_inodes;
  RaceKind kinds[] = {
      {"program", "prog", "#!/bin/sh\nexit 7\n", "#!/bin/sh\nexit 66\n",
       [](const std::string& path) {
         ProcessOptions options;
         options.search_path = false;
         uint32_t exit_code = 0;
         if (RunProgramAndWait("\"" + path + "\"", options, &exit_code) != kErrorSuccess) return Use::kNone;
         return exit_code == 66 ? Use::kOthers : exit_code == 7 ? Use::kRoots : Use::kNone;
       }},
      {"library", "lib.so", library, library,
       [&](const std::string& path) {
         std::string error;
         std::unique_ptr<Module> module = LoadModule(path, &error);
         if (!module) return Use::kNone;
         const uint64_t inode = MappedInode(reinterpret_cast<const void*>(module->Bind<int(int)>("CountCall")));
         return roots_inodes.count(inode) != 0 ? Use::kRoots : Use::kOthers;
       }},
      {"profile", "Ops.cfg", "Warning system config\n", "Warning system config\nevil\n",
       [](const std::string& path) {
         std::string refusal;
         const int fd = OpenDataDoor(path, O_RDONLY, 0, &refusal);
         if (fd < 0) return Use::kNone;
         char text[64];
         const ssize_t n = ::read(fd, text, sizeof(text));
         ::close(fd);
         if (n < 0) return Use::kNone;
         return std::string(text, static_cast<size_t>(n)).find("evil") != std::string::npos ? Use::kOthers
                                                                                            : Use::kRoots;
       }},
  };
  constexpr int kTries = 10000;
  for (RaceKind& kind : kinds) {
    const std::string base = outside_ + "/" + kind.file + ".race";
    const RacePaths p = MakeRacePaths(base, kind.file);
    auto place = [&](const std::string& folder, uid_t owner, mode_t mode, const std::string* content) {
      fs::create_directories(folder);
      ::chown(folder.c_str(), owner, owner);
      ::chmod(folder.c_str(), mode);
      if (content == nullptr) return;
      const std::string file = folder + "/" + kind.file;
      std::ofstream(file, std::ios::binary) << *content;
      ::chown(file.c_str(), owner, owner);
      ::chmod(file.c_str(), 0755);
      struct stat st;
      if (owner == 0 && ::stat(file.c_str(), &st) == 0) roots_inodes.insert(st.st_ino);
    };
    place(base, 0, 0755, nullptr);
    place(p.race, kOtherUser, 0755, nullptr);
    place(p.race + "/a", 0, 0755, &kind.roots_content);
    place(p.race + "/b", kOtherUser, 0755, &kind.others_content);
    place(p.evil, kOtherUser, 0755, &kind.others_content);
    place(p.sticky, 0, 01777, nullptr);
    place(p.sticky + "/mine", 0, 0755, &kind.roots_content);
    place(p.sticky + "/theirs", kOtherUser, 0755, &kind.others_content);
    fs::create_directory_symlink("race/a", p.link);
    fs::create_directory_symlink("a", p.race + "/lnk");
    ::lchown((p.race + "/lnk").c_str(), kOtherUser, kOtherUser);

    const pid_t attacker = ::fork();
    ASSERT_GE(attacker, 0);
    if (attacker == 0) Attack(p, kind.file);
    int others = 0, roots = 0, protected_ok = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);
    ::testing::internal::CaptureStderr();  // one refusal line per try
    int tries = 0;
    for (; tries < kTries && std::chrono::steady_clock::now() < deadline; ++tries) {
      const std::string& target = p.targets[static_cast<size_t>(tries) % p.targets.size()];
      const Use use = kind.use(target);
      others += use == Use::kOthers;
      roots += use == Use::kRoots;
      protected_ok += use == Use::kRoots && target == p.protected_target;
    }
    ::testing::internal::GetCapturedStderr();
    ::kill(attacker, SIGKILL);
    int status = 0;
    ::waitpid(attacker, &status, 0);
    EXPECT_EQ(tries, kTries) << kind.what << ": the tries did not end within 50 s";
    EXPECT_EQ(others, 0) << kind.what << ": root used the other user's file " << others << " times in "
                         << tries << " tries";
    // Root's own file in root's sticky folder stays usable under attack.
    EXPECT_EQ(protected_ok, tries / static_cast<int>(p.targets.size())) << kind.what;
    EXPECT_EQ(roots, protected_ok) << kind.what;
    std::printf("%s: %d tries, %d of the other user's, %d of root's\n", kind.what, tries, others, roots);
  }
}

}  // namespace
}  // namespace kst
