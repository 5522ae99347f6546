#include "KestraneAlerter/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "KestraneAlerter/alerter_testing.h"

namespace kst {
namespace {

class ProfileTest : public AlerterTest {
 protected:
  std::string ProfileFile(const std::string& name) { return HomePath("Profiles/" + name + ".cfg"); }
};

TEST_F(ProfileTest, NewProfileIsFiveLinesAndReadsBack) {
  Profile p("Night");
  ASSERT_EQ(p.save(), 0);
  EXPECT_EQ(ReadFile(ProfileFile("Night")), "Warning system config\n0 0 0\n0\n0\n0\n");

  Profile q("other");
  q.alertThreshold = 9;
  ASSERT_EQ(q.load("Night", nullptr), 0);
  EXPECT_EQ(q.name, "Night");
  EXPECT_EQ(q.alertThreshold, 0);
  EXPECT_EQ(q.rootGate.gateType(), Gate::kAnd);
  EXPECT_FALSE(q.rootGate.isOn());
  EXPECT_EQ(q.rootGate.childCount(), 0);
  EXPECT_TRUE(q.deliverySettings.empty());
}

TEST_F(ProfileTest, FullProfileRoundTripsWithCrlfToo) {
  Profile p("Full");
  p.alertThreshold = 3;
  p.timeSpan = 600;
  p.minimalWait = -2;
  p.rootGate.addChild(new Filter(4, 1, std::string("Error")));
  ASSERT_TRUE(p.rootGate.switchOn());
  auto mail = std::make_unique<MailDeliverySettings>("m1");
  mail->recipient = "a@b";
  p.deliverySettings.push_back(std::move(mail));
  p.deliverySettings.push_back(std::make_unique<MailDeliverySettings>("m2"));
  auto net = std::make_unique<NetSendDeliverySettings>("n");
  net->destination = "ops";
  p.deliverySettings.push_back(std::move(net));
  ASSERT_EQ(p.save(), 0);
  std::string text = ReadFile(ProfileFile("Full"));

  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  WriteFile(ProfileFile("Crlf"), crlf);

  for (const char* name : {"Full", "Crlf"}) {
    Profile q("x");
    DeliverySystemList systems;
    ASSERT_EQ(q.load(name, &systems), 0) << name;
    EXPECT_EQ(q.alertThreshold, 3);
    EXPECT_EQ(q.timeSpan, 600);
    EXPECT_EQ(q.minimalWait, -2);
    ASSERT_EQ(q.rootGate.childCount(), 1);
    EXPECT_EQ(static_cast<Filter*>(q.rootGate.childAt(0))->pattern(), "Error");
    ASSERT_EQ(q.deliverySettings.size(), 3u);
    ASSERT_EQ(systems.size(), 3u);
    EXPECT_EQ(q.deliverySettings[0]->name, "m1");
    EXPECT_EQ(static_cast<MailDeliverySettings&>(*q.deliverySettings[0]).recipient, "a@b");
    EXPECT_EQ(q.deliverySettings[1]->name, "m2");
    EXPECT_EQ(static_cast<NetSendDeliverySettings&>(*q.deliverySettings[2]).destination, "ops");
    EXPECT_NE(dynamic_cast<MailDeliverySystem*>(systems[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<MailDeliverySystem*>(systems[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<NetSendDeliverySystem*>(systems[2].get()), nullptr);
    q.name = "Full";
    ASSERT_EQ(q.save(), 0);
    EXPECT_EQ(ReadFile(ProfileFile("Full")), text) << "saving what was loaded writes the same file";
  }
}

TEST_F(ProfileTest, BrokenFilesKeepWhatWasRead) {
  const std::string head = "Warning system config\n2 30 60\n0\n0\n";
  const std::string shell = "ShellDeliverySystem\ns\n1000 0\n1 1 1 1\n/bin/true\n";
  struct Case {
    const char* what;
    std::string text;
    int result;
    size_t records;
    int32_t threshold;
  } cases[] = {
      {"header without line end", "Warning system config", -1, 0, 0},
      {"other header", "Warning system config!\n0 0 0\n0\n0\n0\n", -1, 0, 0},
      {"numbers missing", "Warning system config\nx\n", -1, 0, 0},
      {"tree missing", "Warning system config\n2 30 60\n", -1, 0, 2},
      {"count missing", head, -1, 0, 2},
      {"count larger than the records", head + "2\n" + shell, -1, 1, 2},
      {"unknown kind skipped but counted", head + "2\nPagerDeliverySystem\n" + shell, 0, 1, 2},
      {"record cut short", head + "1\nMailDeliverySystem\nm\n1000 0\n1 1 1 1\n-\n", -1, 0, 2},
  };
  for (const Case& c : cases) {
    WriteFile(ProfileFile("p"), c.text);
    Profile q("p");
    DeliverySystemList systems;
    EXPECT_EQ(q.load("p", &systems), c.result) << c.what;
    EXPECT_EQ(q.name, "p") << c.what;
    EXPECT_EQ(q.deliverySettings.size(), c.records) << c.what;
    EXPECT_EQ(systems.size(), c.records) << c.what;
    EXPECT_EQ(q.alertThreshold, c.threshold) << c.what;
  }
  // The lines of an unknown record are read as further type lines, each
  // skipped and counted.
  WriteFile(ProfileFile("p"), head + "3\nPager\nname\n" + shell);
  Profile q("p");
  EXPECT_EQ(q.load("p", nullptr), 0);
  EXPECT_EQ(q.deliverySettings.size(), 1u);

  Profile missing("x");
  missing.alertThreshold = 4;
  EXPECT_EQ(missing.load("not there", nullptr), -1);
  EXPECT_EQ(missing.alertThreshold, 0) << "load clears first";
  EXPECT_EQ(missing.name, "not there");
}

TEST_F(ProfileTest, SaveFailsWithoutFolder) {
  std::filesystem::remove_all(HomePath("Profiles"));
  EXPECT_EQ(Profile("p").save(), -1);
  // A name that is no file name cannot be saved either.
  std::filesystem::create_directory(HomePath("Profiles"));
  EXPECT_EQ(Profile("a/b").save(), -1);
}

// A save replaces the file whole, keeping its permissions, and leaves
// nothing else in the folder; one that cannot take the file's place leaves
// what stands there as it was.
TEST_F(ProfileTest, SaveReplacesTheFileWhole) {
  namespace fs = std::filesystem;
  Profile p("Night");
  ASSERT_EQ(p.save(), 0);
  fs::permissions(ProfileFile("Night"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  p.alertThreshold = 3;
  ASSERT_EQ(p.save(), 0);
  EXPECT_EQ(ReadFile(ProfileFile("Night")), "Warning system config\n3 0 0\n0\n0\n0\n");
  EXPECT_EQ(fs::status(ProfileFile("Night")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  fs::create_directory(ProfileFile("Day"));  // no file can take its place
  fs::create_directory(ProfileFile("Day") + "/kept");
  EXPECT_EQ(Profile("Day").save(), -1);
  EXPECT_TRUE(fs::exists(ProfileFile("Day") + "/kept"));
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(HomePath("Profiles"))) entries.push_back(entry.path().filename());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"Day.cfg", "Night.cfg"}));

  // The longest name a folder takes is saved too.
  const std::string longest(255 - 4, 'n');
  EXPECT_EQ(Profile(longest).save(), 0);
  EXPECT_TRUE(fs::exists(ProfileFile(longest)));
}

}  // namespace
}  // namespace kst
