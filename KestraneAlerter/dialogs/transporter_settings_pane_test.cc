#include "KestraneAlerter/dialogs/transporter_settings_pane.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "KestraneAlerter/delivery_settings.h"
#include "KestraneAlerter/dialogs/pane_testing.h"
#include "KestraneAlerter/profile_set.h"

namespace kst {
namespace {

class TransporterSettingsPaneTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    ASSERT_EQ(set_.addProfile("Ops"), 0);
    auto mail = std::make_unique<MailDeliverySettings>("Mail");
    mail->recipient = "ops@example.test";
    mail->sender = "kestrane@example.test";
    mail->mailServer = "smtp.example.test";
    mail->minimalWait = 60;
    mail->maxMessageLength = 2000;
    mail->includeDescription = false;
    Ops().deliverySettings.push_back(std::move(mail));
    auto net = std::make_unique<NetSendDeliverySettings>("Console");
    net->destination = "desk7";
    net->maxMessageLength = 500;
    Ops().deliverySettings.push_back(std::move(net));
    auto shell = std::make_unique<ShellDeliverySettings>("Script");
    shell->executionFilePath = "/usr/local/bin/page";
    shell->maxMessageLength = 100;
    Ops().deliverySettings.push_back(std::move(shell));
  }
  Profile& Ops() { return *set_.findProfile("Ops"); }
  DeliverySettings& Settings(size_t i) { return *Ops().deliverySettings[i]; }
  // Builds `pane` for the i-th transporter in a 420 by 300 pane area.
  void Build(TransporterSettingsPane& pane, size_t i) {
    ASSERT_TRUE(pane.createControls(&Settings(i), "Ops", {180, 200, 600, 500}, &host_));
  }
  // The n-th child with the id (several text fields share theirs).
  static ui::Window& Nth(const ui::Window& pane, int id, int n = 0) {
    for (ui::Window* child : pane.children()) {
      if (child->id() == id && n-- == 0) return *child;
    }
    ADD_FAILURE() << "no control " << id;
    return const_cast<ui::Window&>(pane);
  }
  static ui::Edit& Box(const ui::Window& pane, int id, int n = 0) { return dynamic_cast<ui::Edit&>(Nth(pane, id, n)); }

  ProfileSet set_;
};

TEST_F(TransporterSettingsPaneTest, MailPaneShowsItsSettings) {
  MailSettingsPane pane;
  Build(pane, 0);
  EXPECT_EQ(pane.id(), kPaneId);
  ASSERT_EQ(pane.children().size(), 22u);
  EXPECT_EQ(Box(pane, 6201).Text(), "Mail");
  EXPECT_EQ(Box(pane, 6211).Text(), "60");
  EXPECT_EQ(Box(pane, 6221).Text(), "2000");
  EXPECT_EQ(Box(pane, 6203, 0).Text(), "ops@example.test");
  EXPECT_EQ(Box(pane, 6203, 1).Text(), "kestrane@example.test");
  EXPECT_EQ(Box(pane, 6203, 2).Text(), "smtp.example.test");
  EXPECT_EQ(Nth(pane, 6204, 2).Text(), "Use mail server:");
  EXPECT_EQ(Nth(pane, 6204, 0).rect(), (ui::Rect{269, 35, 415, 50}));
  EXPECT_TRUE(dynamic_cast<ui::CheckBox&>(Nth(pane, 6231)).IsChecked());
  EXPECT_FALSE(dynamic_cast<ui::CheckBox&>(Nth(pane, 6251)).IsChecked());
  EXPECT_EQ(Nth(pane, 6262).Text(), "Include counter names.");
  EXPECT_EQ(dynamic_cast<ui::UpDown&>(Nth(pane, 6222)).upper(), 9999);
  for (ui::Window* child : pane.children()) {
    ASSERT_NE(child->font(), nullptr);
    EXPECT_EQ(child->font()->face, "Arial");
  }
  EXPECT_TRUE(pane.DestroyWindow());
  EXPECT_TRUE(host_.children().empty());
}

TEST_F(TransporterSettingsPaneTest, FlagsMoveDownInATallPane) {
  ShellSettingsPane pane;
  ASSERT_TRUE(pane.createControls(&Settings(2), "Ops", {0, 0, 420, 340}, &host_));
  EXPECT_EQ(Nth(pane, 6231).rect().top, 125);
  EXPECT_EQ(Nth(pane, 6261).rect().top, 185);
  EXPECT_EQ(Nth(pane, 6204).Text(), "Execution file path:");
  EXPECT_EQ(dynamic_cast<ui::UpDown&>(Nth(pane, 6222)).upper(), 1024);
}

// The number labels' long texts and the text fields' labels must keep to
// rows or columns of their own.
TEST_F(TransporterSettingsPaneTest, NumberLabelsAndFieldLabelsShareNoRow) {
  MailSettingsPane mail;
  NetSendSettingsPane net;
  ShellSettingsPane shell;
  TransporterSettingsPane* panes[] = {&mail, &net, &shell};
  for (size_t i = 0; i < 3; ++i) {
    Build(*panes[i], i);
    for (int number : {6213, 6223}) {
      const ui::Rect& a = Nth(*panes[i], number).rect();
      for (int n = 0; n < (i == 0 ? 3 : 1); ++n) {
        const ui::Rect& b = Nth(*panes[i], 6204, n).rect();
        EXPECT_TRUE(a.bottom <= b.top || b.bottom <= a.top || a.right <= b.left)
            << Settings(i).name << " " << number << " " << n;
      }
    }
  }
}

TEST_F(TransporterSettingsPaneTest, RefusesSettingsOfAnotherKind) {
  NetSendSettingsPane net;
  EXPECT_FALSE(net.createControls(&Settings(0), "Ops", {0, 0, 420, 300}, &host_));
  EXPECT_FALSE(net.createControls(&Ops(), "Ops", {0, 0, 420, 300}, &host_));
  EXPECT_TRUE(host_.children().empty());
}

TEST_F(TransporterSettingsPaneTest, ValidateFaults) {
  MailSettingsPane mail;
  Build(mail, 0);
  NetSendSettingsPane net;
  Build(net, 1);
  ShellSettingsPane shell;
  Build(shell, 2);
  // A profile file's line holds 998 characters of a text field.
  const std::string fits(998, 'a'), over(999, 'a');
  struct Case {
    TransporterSettingsPane* pane;
    int box;
    std::string text;
    const char* message;
    int n = 0;  // which of the boxes with that id
  } cases[] = {
      {&mail, 6201, "Mail 2 night", ""},
      {&mail, 6201, "mail.ops", "Name must contain only Latin characters and numbers."},
      {&mail, 6201, "Console", "Profile with the same name already exists!"},
      {&mail, 6201, "console", ""},
      {&mail, 6211, "10000", "\"Notification time span\" mustn't exceed 9999 sec."},
      {&mail, 6211, "100000", "Invalid value in \"Notification time span\" box."},
      {&mail, 6211, "", "Invalid value in \"Notification time span\" box."},
      {&mail, 6211, "1 2", "One of the fields contains unacceptable character."},
      {&mail, 6221, "1025", ""},
      {&mail, 6221, "10000", "\"Maximaze message lenght\" mustn't exceed 9999 symbols."},
      {&mail, 6221, "", "Invalid value in \"Maximaze message lenght\" box."},
      {&net, 6221, "1024", ""},
      {&net, 6221, "1025", "\"Maximaze message lenght\" mustn't exceed 1024\n for Program notification."},
      {&net, 6221, "x", "One of the fields contains unacceptable character."},
      {&mail, 6203, fits, ""},
      {&mail, 6203, over, "Invalid value in \"Mail to\" box: at most 998 characters."},
      {&mail, 6203, over, "Invalid value in \"From\" box: at most 998 characters.", 1},
      {&mail, 6203, fits, "", 2},
      {&mail, 6203, over, "Invalid value in \"Use mail server\" box: at most 998 characters.", 2},
      {&net, 6203, over, "Invalid value in \"Destination\" box: at most 998 characters."},
      {&shell, 6203, fits, ""},
      {&shell, 6203, over, "Invalid value in \"Execution file path\" box: at most 998 characters."},
      // A fault of the numbers is told first.
      {&shell, 6221, "1025", "\"Maximaze message lenght\" mustn't exceed 1024\n for Program notification."},
  };
  for (const Case& c : cases) {
    if (c.pane == &shell && c.box == 6221) Box(shell, 6203).SetText(over);
    Box(*c.pane, c.box, c.n).SetText(c.text);
    EXPECT_EQ(c.pane->validate(set_), *c.message == '\0') << c.box << " " << c.text.size() << " " << c.n;
    EXPECT_EQ(OneMessage(), c.message) << c.box << " " << c.text.size() << " " << c.n;
    for (int n = 0; n < (c.pane == &mail ? 3 : 1); ++n) Box(*c.pane, 6203, n).SetText("x");
    Box(*c.pane, 6201).SetText(c.pane == &mail ? "Mail" : c.pane == &net ? "Console" : "Script");
    Box(*c.pane, 6211).SetText("0");
    Box(*c.pane, 6221).SetText("100");
  }
}

// The pane refuses what the mail sender would: each address must be one
// address, however it was typed; the server name and the other kinds'
// fields are not addresses.
TEST_F(TransporterSettingsPaneTest, MailPaneRefusesWhatIsNotOneAddress) {
  MailSettingsPane mail;
  Build(mail, 0);
  NetSendSettingsPane net;
  Build(net, 1);
  const std::string to = "The address in \"Mail to:\" box ";
  const std::string from = "The address in \"From:\" box ";
  struct Case {
    TransporterSettingsPane* pane;
    int field;
    std::string text;
    std::string message;
  } cases[] = {
      {&mail, 0, "  ops@example.test ", ""},
      {&mail, 0, "Admin <root@localhost>", ""},
      {&mail, 0, "Ops, night <root@localhost>", ""},
      {&mail, 0, "", ""},
      {&mail, 0, "ops @example.test", to + "holds a blank."},
      {&mail, 1, "a@x, b@x", from + "holds \",\"."},
      {&mail, 1, "x@y> SIZE=1", from + "holds \"<\" or \">\" that do not enclose the address."},
      {&mail, 1, "<x@y", from + "holds \"<\" or \">\" that do not enclose the address."},
      {&mail, 0, "Admin <root@localhost> x", to + "holds \"<\" or \">\" that do not enclose the address."},
      {&mail, 0, "<a@x> <b@x>", to + "holds \"<\" or \">\" that do not enclose the address."},
      {&mail, 0, "Admin < >", to + "holds no address within its angle brackets."},
      {&mail, 1, "s@x\x7f", from + "holds a control character."},
      {&mail, 2, "mail server ", ""},
      {&net, 0, "desk 7, <desk8", ""},
  };
  for (const Case& c : cases) {
    Box(*c.pane, 6203, c.field).SetText(c.text);
    EXPECT_EQ(c.pane->validate(set_), c.message.empty()) << c.field << " " << c.text;
    EXPECT_EQ(OneMessage(), c.message) << c.field << " " << c.text;
    Box(*c.pane, 6203, c.field).SetText("x@y");
  }
  // What is typed is stored as typed.
  Box(mail, 6203, 0).SetText(" Admin <root@localhost>");
  EXPECT_EQ(mail.apply(set_), kApplyChanged);
  EXPECT_EQ(dynamic_cast<MailDeliverySettings&>(Settings(0)).recipient, " Admin <root@localhost>");
}

TEST_F(TransporterSettingsPaneTest, ApplyResults) {
  MailSettingsPane pane;
  Build(pane, 0);
  EXPECT_EQ(pane.apply(set_), kApplyUnchanged);
  ASSERT_TRUE(user().Click(Nth(pane, 6251)));
  EXPECT_EQ(pane.apply(set_), kApplyChanged);
  EXPECT_TRUE(Settings(0).includeDescription);
  ASSERT_TRUE(user().Type(Box(pane, 6203, 1), "alerts@example.test"));
  ASSERT_TRUE(user().Type(Box(pane, 6221), "1025"));
  EXPECT_EQ(pane.apply(set_), kApplyChanged);
  auto& mail = dynamic_cast<MailDeliverySettings&>(Settings(0));
  EXPECT_EQ(mail.sender, "alerts@example.test");
  EXPECT_EQ(mail.maxMessageLength, 1025);
  EXPECT_EQ(mail.recipient, "ops@example.test");

  ASSERT_TRUE(user().Type(Box(pane, 6201), "Mail night"));
  ASSERT_TRUE(user().Click(Nth(pane, 6231)));
  EXPECT_EQ(pane.apply(set_), kApplyRenamed);
  EXPECT_EQ(mail.name, "Mail night");
  EXPECT_FALSE(mail.includeComments);
  // The host keeps the pane; applying it again still finds the renamed transporter.
  EXPECT_EQ(pane.apply(set_), kApplyUnchanged);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(TransporterSettingsPaneTest, ApplyWritesTheLastOfTwoTransportersOfOneName) {
  auto twin = std::make_unique<MailDeliverySettings>("Mail");
  twin->recipient = "night@example.test";
  Ops().deliverySettings.push_back(std::move(twin));
  MailSettingsPane pane;
  ASSERT_TRUE(pane.createControls(&Settings(3), "Ops", {180, 200, 600, 500}, &host_));
  ASSERT_TRUE(user().Type(Box(pane, 6203, 1), "alerts@example.test"));
  EXPECT_EQ(pane.apply(set_), kApplyChanged);
  EXPECT_EQ(dynamic_cast<MailDeliverySettings&>(Settings(3)).sender, "alerts@example.test");
  EXPECT_EQ(dynamic_cast<MailDeliverySettings&>(Settings(0)).sender, "kestrane@example.test");
}

TEST_F(TransporterSettingsPaneTest, InvalidOrVanishedStoresNothing) {
  ShellSettingsPane pane;
  Build(pane, 2);
  ASSERT_TRUE(user().Type(Box(pane, 6203), "/bin/other"));
  ASSERT_TRUE(user().Type(Box(pane, 6221), "2000"));
  EXPECT_EQ(pane.apply(set_), kApplyInvalid);
  EXPECT_EQ(OneMessage(), "\"Maximaze message lenght\" mustn't exceed 1024\n for Program notification.");
  EXPECT_EQ(dynamic_cast<ShellDeliverySettings&>(Settings(2)).executionFilePath, "/usr/local/bin/page");

  ASSERT_TRUE(user().Type(Box(pane, 6221), "20"));
  Ops().deliverySettings.pop_back();
  EXPECT_EQ(pane.apply(set_), kApplyInvalid);
  EXPECT_EQ(OneMessage(), "This profile already deleted!");
  ASSERT_EQ(set_.removeProfile("Ops"), 0);
  EXPECT_FALSE(pane.validate(set_));
  EXPECT_EQ(OneMessage(), "This profile already deleted!");
}

TEST_F(TransporterSettingsPaneTest, SpinsHoldTheirRange) {
  NetSendSettingsPane pane;
  Build(pane, 1);
  auto& lengthSpin = dynamic_cast<ui::UpDown&>(Nth(pane, 6222));
  Box(pane, 6221).SetText("1024");
  ASSERT_TRUE(user().Step(lengthSpin, 1));
  EXPECT_EQ(Box(pane, 6221).Text(), "1024");
  ASSERT_TRUE(user().Step(lengthSpin, -1));
  EXPECT_EQ(Box(pane, 6221).Text(), "1023");
  Box(pane, 6211).SetText("0");
  ASSERT_TRUE(user().Step(dynamic_cast<ui::UpDown&>(Nth(pane, 6212)), -1));
  EXPECT_EQ(Box(pane, 6211).Text(), "0");
}

}  // namespace
}  // namespace kst
