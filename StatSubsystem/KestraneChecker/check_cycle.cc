#include "StatSubsystem/KestraneChecker/check_cycle.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "StatSubsystem/common/config_tree.h"
#include "StatSubsystem/common/counter_values.h"
#include "StatSubsystem/common/product_key.h"
#include "platform/paths.h"
#include "platform/root_doors.h"

namespace kst {

namespace {

constexpr int kBufferStep = 4096;
constexpr uint64_t kUnknownCounterId = ~0ull;
const char kTimeTitle[] = "Time";
const char kTimeCounterTitle[] = "time::Time";

uint64_t CounterId(const std::string& title) {
  int result = -1;
  int64_t id = ReadCounterByTitle(title, &result);
  return result < 0 ? kUnknownCounterId : static_cast<uint64_t>(id);
}

}  // namespace

std::string CheckerCounterName(const std::string& objectPart, const std::string& counterPart) {
  std::string name = objectPart + "::" + counterPart;
  for (char& c : name) {
    if (c == '\\') c = '_';
  }
  return name;
}

bool InsideDailyWindow(const TrainingPeriod& period, int secondOfDay) {
  const int from = period.dayTimeIntervalFrom, till = period.dayTimeIntervalTill;
  if (from == till) return true;
  if (from < till) return secondOfDay >= from && secondOfDay <= till;
  return secondOfDay >= from || secondOfDay <= till;
}

CheckCycle::CheckCycle() = default;

CheckCycle::~CheckCycle() {
  // Plug-ins first: they are released on every reload anyway. The alerter
  // goes last, after its dispatcher.
  instances_.clear();
  if (alerter_ && dispatcher_ != nullptr) {
    if (auto* destroy = alerter_->Bind<DestroyDispatherFn>("DestroyDispather")) {
      destroy(dispatcher_);
    }
  }
}

void CheckCycle::BindAlerter(const std::string& rootDirectory) {
  // One try per life: a missing alerter means alerts are printed and written only.
  alerterBound_ = true;
  alerter_ = LoadModule(rootDirectory + "\\KestraneAlerter.dll");
  if (!alerter_) return;
  auto* getNew = alerter_->Bind<GetNewDispatherFn>("GetNewDispather");
  processAlertMessage_ = alerter_->Bind<ProcessAlertMessageFn>("ProcessAlertMessage");
  if (getNew != nullptr) dispatcher_ = getNew();
}

void CheckCycle::RenewDispatcher() {
  // A reload gives the alerter a fresh dispatcher, which reads its profile
  // and settings again.
  auto* destroy = alerter_->Bind<DestroyDispatherFn>("DestroyDispather");
  if (destroy == nullptr) return;
  destroy(dispatcher_);
  dispatcher_ = nullptr;
  if (auto* getNew = alerter_->Bind<GetNewDispatherFn>("GetNewDispather")) {
    dispatcher_ = getNew();
  }
}

int CheckCycle::Rebuild() {
  // The names and the query come from one reading of the collector's list:
  // read apart, a list changed in between would pair a name with another
  // counter's value.
  std::vector<std::string> paths;
  if (ReadCollectorCounterPaths(&paths) != 0) return -1;

  values_.clear();
  counterNames_.clear();
  for (const std::string& path : paths) {
    counterNames_.push_back(CheckerCounterName(CounterObjectPart(path), CounterNamePart(path)));
  }
  counterValues_.Rebuild(paths);  // a failure shows as no values

  instances_.clear();  // releases every plug-in module
  countersTitles_.clear();
  counterIds_.clear();
  logs_.clear();
  timeCounterId_ = CounterId(kTimeCounterTitle);

  int result = -1;
  const std::vector<std::string> logs = ReadLogsTitles(&result);
  for (const std::string& log : logs) LoadLog(log);
  return 0;
}

void CheckCycle::LoadLog(const std::string& log) {
  int result = -1;
  std::vector<std::string> titles = ReadLogCountersTitles(log, &result);
  if (result < 0) return;
  const std::vector<AnalyzerInstance> records = ReadAnalyzerInstances(log, &result);
  if (result < 0) return;  // leaves the log out of all three lists

  std::vector<CheckedInstance> bound;
  for (const AnalyzerInstance& record : records) {
    int status = 0;
    ReadInstanceStatus(log, record.title, &status, &result);
    if (result < 0 || status != kStatusActivated) continue;
    CheckedInstance instance;
    static_cast<AnalyzerInstance&>(instance) = record;
    instance.pluginModule = LoadModule(record.pluginFileName);
    if (!instance.pluginModule) continue;
    instance.checkFunction = instance.pluginModule->Bind<CheckFunction>("check");
    if (instance.checkFunction == nullptr) continue;  // the module goes with it
    bound.push_back(std::move(instance));
  }
  // The ids an alert names, read now rather than per alert: they change only
  // with a new counter store, which comes with a reload.
  std::vector<uint64_t> ids;
  if (!bound.empty()) {
    for (const std::string& title : titles) ids.push_back(CounterId(title));
  }
  logs_.push_back(log);
  countersTitles_.push_back(std::move(titles));
  counterIds_.push_back(std::move(ids));
  instances_.push_back(std::move(bound));
}

int CheckCycle::Check(const CheckControls& controls) {
  bool& reload = *controls.reloadRequested;
  if (!alerterBound_) BindAlerter(controls.rootDirectory);
  if (reload && alerter_) RenewDispatcher();
  if (reload) {
    if (int rc = Rebuild(); rc < 0) return rc;
  }

  std::vector<double> values;
  counterValues_.Read(values, false);
  for (size_t k = 0; k < values.size() && k < counterNames_.size(); ++k) {
    values_[counterNames_[k]] = values[k];
  }

  const std::time_t now = controls.now ? controls.now() : std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  minuteOfDay_ = local.tm_hour * 60 + local.tm_min;
  secondOfDay_ = minuteOfDay_ * 60 + local.tm_sec;
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%d %02d:%02d:%02d ", local.tm_mon + 1,
                local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  stamp_ = stamp;

  messagesPath_ = NativePath(controls.rootDirectory + "\\alertmessages");
  std::string refusal;
  std::FILE* file = OpenDataStream(messagesPath_, "ab", &refusal);
  if (file == nullptr) {
    if (!refusal.empty()) {
      std::fprintf(stderr, "%s\n", DoorRefusal("append to", messagesPath_, refusal).c_str());
      std::fflush(stderr);
    }
    std::fputs("can't open \"alertmessages\" file for appending", stdout);
    std::fflush(stdout);
    return -3;
  }
  // Unbuffered: each frame goes out (or fails) while its alert is in hand.
  std::setvbuf(file, nullptr, _IONBF, 0);
  buffer_.clear();
  buffer_.shrink_to_fit();
  capacity_ = kBufferStep;
  const int rc = CheckLogs(controls, file);
  buffer_.clear();
  buffer_.shrink_to_fit();
  std::fclose(file);
  if (rc != 0) return rc;
  reload = false;
  return 0;
}

int CheckCycle::CheckLogs(const CheckControls& controls, std::FILE* file) {
  for (size_t i = 0; i < logs_.size(); ++i) {
    std::vector<double> counterFeatures;
    for (const std::string& title : countersTitles_[i]) {
      auto it = values_.find(title);
      if (it != values_.end()) {
        counterFeatures.push_back(it->second);
      } else {
        counterFeatures.push_back(title == kTimeTitle ? minuteOfDay_ : 0.0);
      }
    }
    for (CheckedInstance& instance : instances_[i]) {
      if (controls.stopRequested && controls.stopRequested()) return 1;
      if (!InsideDailyWindow(instance.trainingPeriod, secondOfDay_)) continue;

      std::vector<double> features;
      if (instance.usesTime) features.push_back(minuteOfDay_);
      features.insert(features.end(), counterFeatures.begin(), counterFeatures.end());

      char message[kMessageSize] = {};
      AnomalyDetails* details = nullptr;
      int level;
      try {
        // The plug-in opens the name it is given, so it gets the state
        // file's place in States under the root, where training wrote it.
        const std::string stateFile =
            NativePath(controls.rootDirectory + "\\States\\" + instance.stateFileName);
        level = instance.checkFunction(stateFile, &features, message, kMessageSize, &details);
        if (level < 0 && !instance.failureLogged) {
          instance.failureLogged = true;
          std::fprintf(stderr,
                       "analyzer instance %s:%s raises no alerts: check answered %d (state file "
                       "\"%s\" missing or damaged, or fewer values than it was trained on)\n",
                       logs_[i].c_str(), instance.title.c_str(), level, stateFile.c_str());
          std::fflush(stderr);
        }
      } catch (...) {
        std::printf("exception has come from check method of analyzer %s\n",
                    instance.title.c_str());
        std::fflush(stdout);
        level = -1;
      }
      message[kMessageSize - 1] = '\0';
      if (level <= 0 || level < instance.warningLevelThreshold) continue;
      Alert(logs_[i], i, instance, level, message, features, details, file);
    }
  }
  return 0;
}

void CheckCycle::Alert(const std::string& log, size_t logIndex, const CheckedInstance& instance,
                       int level, const char* message, const std::vector<double>& features,
                       const AnomalyDetails* details, std::FILE* file) {
  std::printf("%s  %s:%s   %s\n", stamp_.c_str(), log.c_str(), instance.title.c_str(), message);
  std::fflush(stdout);

  AlertMessage alert(static_cast<int8_t>(level), log, instance.title, message);
  const std::vector<uint64_t>& ids = counterIds_[logIndex];
  const size_t shift = instance.usesTime ? 1 : 0;
  for (size_t j = 0; j < ids.size(); ++j) alert.counterValues[ids[j]] = features[j + shift];
  if (details != nullptr) {
    // A feature index names the time of day when the instance uses it, else
    // a counter of the log; an index that names neither keeps the id 0.
    auto idOf = [&](int f) -> uint64_t {
      const long j = static_cast<long>(f) - static_cast<long>(shift);
      if (j < -1 || (j == -1 && !instance.usesTime)) return 0;
      if (j >= 0 && static_cast<size_t>(j) >= ids.size()) return 0;
      const uint64_t id = j == -1 ? timeCounterId_ : ids[static_cast<size_t>(j)];
      return id == kUnknownCounterId ? 0 : id;
    };
    for (const AnomalyDetail& detail : *details) {
      CounterPart part;
      for (int f : detail.baseFeatures) part.baseCounterIds.push_back(idOf(f));
      for (int f : detail.resultFeatures) part.resultCounterIds.push_back(idOf(f));
      alert.counterParts.push_back(std::move(part));
    }
  }

  int size = 0;
  int rc = alert.serialize(buffer_.empty() ? nullptr : buffer_.data(), capacity_, &size);
  while (rc == AlertMessage::kBufferTooSmall && capacity_ <= INT_MAX - kBufferStep) {
    capacity_ += kBufferStep;
    buffer_.assign(static_cast<size_t>(capacity_), '\0');
    rc = alert.serialize(buffer_.data(), capacity_, &size);
  }
  if (rc != AlertMessage::kOk) {
    std::fprintf(stderr, "alertmessages: the alert of %s:%s is dropped: its record cannot be built (%d)\n",
                 log.c_str(), instance.title.c_str(), rc);
    std::fflush(stderr);
    return;
  }

  if (dispatcher_ != nullptr && processAlertMessage_ != nullptr) {
    processAlertMessage_(dispatcher_, &alert);
  }
  if (!AppendFrame(file, AlertFrame(buffer_.data(), static_cast<uint32_t>(size)))) {
    std::fprintf(stderr, "alertmessages: the alert of %s:%s was not recorded (%s)\n", log.c_str(),
                 instance.title.c_str(), std::strerror(errno));
    std::fflush(stderr);
  }
}

bool CheckCycle::AppendFrame(std::FILE* file, const std::string& frame) {
  std::error_code ec;
  const uintmax_t before = std::filesystem::file_size(messagesPath_, ec);
  errno = 0;
  if (std::fwrite(frame.data(), 1, frame.size(), file) == frame.size()) return true;
  const int error = errno != 0 ? errno : EIO;
  std::clearerr(file);
  // A part of a frame would hide the frames after it from a reader: cut it
  // away again.
  if (!ec && std::filesystem::is_regular_file(messagesPath_, ec)) {
    std::filesystem::resize_file(messagesPath_, before, ec);
  }
  errno = error;
  return false;
}

}  // namespace kst
