// The plug-in as a host sees it: loaded by file name, bound by name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "Ruleforge/analyzer_test_util.h"
#include "Ruleforge/exceptions.h"
#include "Ruleforge/plugin_exports.h"
#include "Ruleforge/ruleforge_testing.h"
#include "platform/module.h"
#include "platform/registry_testing.h"
#include "platform/root_doors_testing.h"

namespace kst {
namespace {

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<TempKestraneHome>();
    ASSERT_NO_FATAL_FAILURE(LoadPlugin());
    state_ = home_->path() + "/States/one";
    std::filesystem::create_directories(home_->path() + "/States");
  }

  // Loads the plug-in and binds its exports; a loaded one (and every
  // instance it holds) goes first.
  void LoadPlugin() {
    module_.reset();
    const char* bin = std::getenv("KST_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    std::string error;
    module_ = LoadModule(std::string(bin) + "/Discovery.dll", &error);
    ASSERT_NE(module_, nullptr) << error;
    check_ = module_->Bind<CheckExport>("check");
    install_ = module_->Bind<InstallExport>("install");
    tune_ = module_->Bind<TuneExport>("tune");
    defaults_ = module_->Bind<GetModuleDefaultParametersExport>("getModuleDefaultParameters");
    ASSERT_TRUE(check_ && install_ && tune_ && defaults_);
  }

  // Trains the instance of state_ on a generated table.
  int Install(const std::string& csv, double probability = 0.9, int eras = 50) {
    std::vector<ParameterValue> params = *defaults_("Single log, oscillating counters", nullptr);
    params[0].setReal(probability);
    params[2].setInt(eras);
    params[3].setString((home_->path() + "/rules.txt").c_str());
    return install_(state_, &params, csv, &progress_);
  }
  std::string TrainingTable() {
    std::string csv = home_->path() + "/train.csv";
    WriteStructuredCsv(csv, 600, 8, 9);
    return csv;
  }

  int Check(const std::string& state, std::vector<double> values, char* message, uint32_t size,
            std::vector<AnomalyDetail>** details) {
    return check_(state, &values, message, size, details);
  }

  std::unique_ptr<TempKestraneHome> home_;
  std::unique_ptr<Module> module_;
  CheckExport* check_;
  InstallExport* install_;
  TuneExport* tune_;
  GetModuleDefaultParametersExport* defaults_;
  SharedProgress progress_;
  std::string state_;
};

TEST_F(PluginTest, DescribesItself) {
  EXPECT_EQ(*module_->Bind<GetModuleTitleExport>("getModuleTitle")(), "Ruleforge");
  EXPECT_EQ(module_->Bind<GetModuleInfoExport>("getModuleInfo")()->rfind(
                "Engine searches for anomalies in data using Discovery method: find of rules.\n", 0),
            0u);
  EXPECT_TRUE(module_->Bind<GetLogRequiredCountersTitlesExport>("getLogRequiredCountersTitles")()->empty());
  auto* profiles = module_->Bind<GetParametersProfilesExport>("getParametersProfiles");
  profiles();
  const std::vector<std::string>& names = *profiles();
  EXPECT_EQ(names, (std::vector<std::string>{"Combined logs, various counters", "Single log, oscillating counters",
                                             "Single log, integral counters"}));
}

TEST_F(PluginTest, DefaultParametersByProfile) {
  struct Case {
    const char* profile;
    double probability, fisher;
    int eras;
    double figure;
  };
  const Case cases[] = {
      {"Combined logs, various counters", 0.99, 1.0, 10000, 0.15},
      {"Single log, oscillating counters", 0.99, 1.0, 10000, 0.3},
      {"Single log, integral counters", 0.95, 0.01, 20000, 0.2},
      {"single log, integral counters", 0.95, 0.01, 10000, 0.2},
      {"", 0.95, 0.01, 10000, 0.2},
  };
  for (const Case& c : cases) {
    double figure = -1;
    std::vector<ParameterValue>& p = *defaults_(c.profile, &figure);
    ASSERT_NO_FATAL_FAILURE(ExpectAnalyzerParameters(p, 0.95, 0.01));
    EXPECT_EQ(p[0].data().r.value, c.probability) << c.profile;
    EXPECT_EQ(p[1].data().r.value, c.fisher) << c.profile;
    EXPECT_EQ(p[2].data().i.value, c.eras) << c.profile;
    EXPECT_STREQ(p[3].data().s.value, "");
    EXPECT_EQ(figure, c.figure) << c.profile;
  }
  EXPECT_EQ(defaults_("x", nullptr)->size(), 4u);
}

TEST_F(PluginTest, InstallCheckAndTuneRoundTrip) {
  const std::string csv = TrainingTable();
  ASSERT_EQ(Install(csv), 0);
  EXPECT_TRUE(std::filesystem::exists(state_));
  EXPECT_EQ(Install(csv), 1);  // already known
  double v;
  progress_.get(&v);
  EXPECT_EQ(v, 1.0);

  char message[1024];
  std::vector<AnomalyDetail>* details = nullptr;
  // Values from a training row: features 0..2 follow one level.
  std::ifstream table(csv);
  std::string line;
  std::getline(table, line);
  std::getline(table, line);
  std::getline(table, line);
  std::vector<double> row;
  for (std::string_view field : SplitFields(line)) row.push_back(std::stod(std::string(field)));
  EXPECT_EQ(Check(state_, row, message, sizeof message, &details), 0);
  EXPECT_STREQ(message, "");
  ASSERT_NE(details, nullptr);
  EXPECT_TRUE(details->empty());

  // Break the clean column 0 against the others.
  std::vector<double> broken = row;
  broken[0] = broken[0] < 5 ? 20.5 : 0.5;
  int level = Check(state_, broken, message, sizeof message, &details);
  EXPECT_GT(level, 0);
  EXPECT_EQ(std::string(message).rfind(" Ruleforge: ", 0), 0u);
  EXPECT_FALSE(details->empty());

  // The message is cut to the buffer.
  char small[8];
  EXPECT_EQ(Check(state_, broken, small, sizeof small, &details), level);
  EXPECT_STREQ(small, " Rulefo");
  char untouched = 'x';
  EXPECT_EQ(Check(state_, broken, &untouched, 0, &details), level);
  EXPECT_EQ(untouched, 'x');

  // Too few values for the features.
  EXPECT_EQ(Check(state_, {1, 2}, message, sizeof message, &details), -1);

  EXPECT_EQ(tune_(state_, -1.0), 0.5);
  EXPECT_EQ(tune_(state_, 0.9), 1.0);
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.9);
  EXPECT_EQ(tune_(state_, std::nan("")), -1.0);
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.9);
  // Both ends are accepted, held just inside.
  EXPECT_DOUBLE_EQ(tune_(state_, 1.0), 9.0);
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.9999);
  EXPECT_DOUBLE_EQ(tune_(state_, 0.0), 0.9999 / (1 - 0.9999));
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.0001);
}

TEST_F(PluginTest, CheckReturnsTheLevelOrZero) {
  // Feature 0 in [0, 10] makes every rule applicable; feature 1 outside
  // [0, 10] makes the rules on it anomalous.
  struct Case {
    int anomalous, quiet;
    int result;
    const char* message;
  };
  const Case cases[] = {
      {1, 2, 33, " Ruleforge: 1 of 3 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. "},
      {2, 1, 66, " Ruleforge: 2 of 3 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. "},
      {1, 199, 0, " Ruleforge: 1 of 200 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. "},
      {3, 0, 100, " Ruleforge: 3 of 3 (0.000000 feature groups. 100: 0, 50: 0, 20: 0) rules is anomal. "},
      {0, 3, 0, ""},
  };
  int i = 0;
  for (const Case& c : cases) {
    StateFile file;
    file.scales = {Scale("0", "10"), Scale("0", "10"), Scale("0", "10")};
    file.groups.assign(3, FeatureGroup{{1, 0, 0}, 0});
    file.rules.assign(c.anomalous, {{{1, 0}}, {{0, 0}}});
    file.rules.insert(file.rules.end(), c.quiet, {{{2, 0}}, {{0, 0}}});
    const std::string state = home_->path() + "/States/level" + std::to_string(i++);
    std::ofstream(state, std::ios::binary) << file.Bytes();
    char message[1024];
    std::vector<AnomalyDetail>* details = nullptr;
    EXPECT_EQ(Check(state, {5, 50, 5}, message, sizeof message, &details), c.result) << c.anomalous;
    EXPECT_STREQ(message, c.message);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->size(), static_cast<size_t>(c.anomalous));
  }
}

TEST_F(PluginTest, KnownInstancesAreNotReadAgain) {
  ASSERT_EQ(Install(TrainingTable()), 0);
  std::filesystem::remove(state_);
  char message[64];
  std::vector<AnomalyDetail>* details;
  EXPECT_NE(Check(state_, std::vector<double>(8, 0.0), message, sizeof message, &details), -1);
  // A query does not write the state file; a change does.
  EXPECT_EQ(tune_(state_, -1.0), 0.5);
  EXPECT_FALSE(std::filesystem::exists(state_));
  EXPECT_EQ(tune_(state_, 0.5), 1.0);
  EXPECT_TRUE(std::filesystem::exists(state_));
}

TEST_F(PluginTest, SavedInstanceLoadsInAFreshModule) {
  ASSERT_EQ(Install(TrainingTable()), 0);
  ASSERT_EQ(tune_(state_, 0.75), 1.0);
  ASSERT_NO_FATAL_FAILURE(LoadPlugin());
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.75);
}

// Run as root, a state file in a folder that another user may write is
// neither read nor written, and the log says why.
TEST_F(PluginTest, RootTrustsNoStateAnotherUserCouldChange) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root refuses such a state file";
  ASSERT_EQ(Install(TrainingTable()), 0);
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string saved = read(state_);
  const std::string states = home_->path() + "/States";
  const std::string why = " as root: " + states +
                          " may be written by its group or by other users; only root may own and change it\n";
  ::chmod(states.c_str(), 0777);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(tune_(state_, 0.75), 1.0);  // kept in memory; the file stays
  ASSERT_NO_FATAL_FAILURE(LoadPlugin());
  char message[64] = "";
  std::vector<AnomalyDetail>* details = nullptr;
  EXPECT_EQ(Check(state_, std::vector<double>(8, 0.0), message, sizeof message, &details), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "refusing to write " + state_ + why + "refusing to read " + state_ + why);
  EXPECT_EQ(read(state_), saved);
  ::chmod(states.c_str(), 0755);
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.5);
}

TEST_F(PluginTest, InstanceLeftUntrainedSavesAFileThatLoads) {
  // Learning fails after making the first of three scales.
  const std::string csv = home_->path() + "/empty.csv";
  std::ofstream(csv) << "a;b;c\nu;u;u\n";
  try {
    Install(csv);
    ADD_FAILURE();
  } catch (Exception* e) {
    std::unique_ptr<Exception> owned(e);
    EXPECT_EQ(std::string(e->message()), "no rows in statistic file");
  }
  EXPECT_EQ(tune_(state_, 0.5), 1.0);
  ASSERT_NO_FATAL_FAILURE(LoadPlugin());
  EXPECT_DOUBLE_EQ(tune_(state_, -1.0), 0.5);
}

TEST_F(PluginTest, BadCallsAndDamagedStateFiles) {
  char message[64] = "x";
  std::vector<AnomalyDetail>* details = nullptr;
  EXPECT_EQ(Check(home_->path() + "/missing", {1}, message, sizeof message, &details), -1);
  ASSERT_NE(details, nullptr);
  EXPECT_TRUE(details->empty());

  EXPECT_EQ(tune_("", 7.0), 0.5);
  EXPECT_EQ(tune_(state_, -0.5), -1.0);
  EXPECT_EQ(tune_(state_, 1.5), -1.0);
  EXPECT_EQ(tune_(home_->path() + "/missing", 0.5), -1.0);

  std::string damaged = home_->path() + "/damaged";
  std::ofstream(damaged) << "not a state file";
  EXPECT_EQ(Check(damaged, {1}, message, sizeof message, &details), -1);
  EXPECT_EQ(tune_(damaged, -1.0), -1.0);

  // A FIFO where a state file belongs is refused at once, named on the log:
  // no check waits for a writer.
  {
    const std::string pipe = home_->path() + "/pipe";
    UnwrittenFifo fifo(pipe);
    ASSERT_TRUE(fifo.made());
    const std::string refused = "refusing to read " + pipe + (::geteuid() == 0 ? " as root: " : ": ") + pipe +
                                " is not a regular file; only a regular file is used there\n";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Check(pipe, {1}, message, sizeof message, &details), -1);
    EXPECT_EQ(tune_(pipe, -1.0), -1.0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), refused + refused);
    EXPECT_FALSE(fifo.waited()) << "a reader waited on the FIFO";
  }

  std::vector<ParameterValue> params = *defaults_("", nullptr);
  params[0].setReal(-0.1);
  EXPECT_EQ(install_(state_, &params, "x.csv", nullptr), -1);
  params = *defaults_("", nullptr);
  params[1].setReal(std::nan(""));
  EXPECT_EQ(install_(state_, &params, "x.csv", nullptr), -1);
  params = *defaults_("", nullptr);
  params[2].setInt(-1);
  EXPECT_EQ(install_(state_, &params, "x.csv", nullptr), -1);
  params = *defaults_("", nullptr);
  params[0].setReal(0.0);
  params[1].setReal(0.0);
  params[2].setInt(0);
  const std::string no_eras = home_->path() + "/States/no-eras";
  EXPECT_EQ(install_(no_eras, &params, TrainingTable(), nullptr), 0);
  EXPECT_TRUE(std::filesystem::exists(no_eras));
  params.pop_back();
  EXPECT_EQ(install_(state_, &params, "x.csv", nullptr), -1);

  // Unusable training data leaves install as a LoadDataException.
  params = *defaults_("", nullptr);
  try {
    install_(state_, &params, home_->path() + "/none.csv", nullptr);
    ADD_FAILURE();
  } catch (Exception* e) {
    std::unique_ptr<Exception> owned(e);
    EXPECT_EQ(std::string(e->message()), "File not found " + home_->path() + "/none.csv.");
  }
  EXPECT_FALSE(std::filesystem::exists(state_));
  // ... and the untrained instance stays known.
  EXPECT_EQ(install_(state_, &params, "x.csv", nullptr), 1);
}

// What is no regular file where the training table, the rules dump or
// freq.txt belongs is refused at once, named on the log; run as root, so is
// a table another user owns.
TEST_F(PluginTest, TablesAndDumpsAreRegularFilesOnly) {
  const std::string as = ::geteuid() == 0 ? " as root: " : ": ";
  const std::string not_regular = " is not a regular file; only a regular file is used there\n";
  const std::string rules = home_->path() + "/rules.txt";
  const std::string freq = home_->path() + "/freq.txt";
  {
    UnwrittenFifo rules_fifo(rules), freq_fifo(freq);
    ASSERT_TRUE(rules_fifo.made() && freq_fifo.made());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Install(TrainingTable()), 0);
    char message[64] = "";
    std::vector<AnomalyDetail>* details = nullptr;
    EXPECT_NE(Check(state_, std::vector<double>(8, 0.0), message, sizeof message, &details), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "refusing to write " + rules + as + rules + not_regular +
                                                            "refusing to write " + freq + as + freq + not_regular);
    EXPECT_FALSE(rules_fifo.waited()) << "learning waited on a FIFO";
    EXPECT_FALSE(freq_fifo.waited()) << "the check waited on a FIFO";
  }
  std::vector<ParameterValue> params = *defaults_("", nullptr);
  int tries = 0;
  auto refused = [&](const std::string& csv, const std::string& log) {
    ::testing::internal::CaptureStderr();
    try {
      install_(home_->path() + "/States/other" + std::to_string(++tries), &params, csv, nullptr);
      ADD_FAILURE() << csv << " was learned from";
    } catch (Exception* e) {
      std::unique_ptr<Exception> owned(e);
      EXPECT_EQ(std::string(e->message()), "File not found " + csv + ".");
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), log);
  };
  {
    const std::string pipe = home_->path() + "/pipe.csv";
    UnwrittenFifo fifo(pipe);
    ASSERT_TRUE(fifo.made());
    refused(pipe, "refusing to read " + pipe + as + pipe + not_regular);
    EXPECT_FALSE(fifo.waited()) << "learning waited on a FIFO";
  }
  if (::geteuid() != 0) return;
  const std::string theirs = TrainingTable();
  ASSERT_EQ(::chown(theirs.c_str(), NobodyUid(), 0), 0);
  refused(theirs, "refusing to read " + theirs + as + theirs + " belongs to user " + std::to_string(NobodyUid()) +
                      ", not root; only root may own and change it\n");
}

TEST_F(PluginTest, UnwritableStateFile) {
  state_ = home_->path() + "/no/such/folder/state";
  EXPECT_EQ(Install(TrainingTable()), -1);
}

}  // namespace
}  // namespace kst
