// The checking service with the real alerter, alerting on every check while
// its one mail transporter talks to a server that accepts and never
// answers: the checks go on, the threads stay few and the service keeps
// answering its controls.
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "StatSubsystem/KestraneChecker/check_cycle_testing.h"
#include "StatSubsystem/common/product_key.h"
#include "StatSubsystem/common/service_control.h"
#include "StatSubsystem/common/service_keys.h"
#include "platform/root_doors_testing.h"
#include "platform/services.h"

namespace kst {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kChecker[] = "kstChecker";
constexpr char kCheckerLog[] = "log/Kestrane stat checker.log";
// The service's main thread serves the controls, a second one checks.
constexpr int kCheckerOwnThreads = 2;
// At most this many mails of one transporter are on their way at once.
constexpr int kMailSendersPerTransporter = 4;
// The alerter's own thread that writes the counts its log held back.
constexpr int kAlerterTicker = 1;
// Room for a thread that a runtime (a sanitizer's) may add.
constexpr int kSpareThreads = 2;

// Accepts every connection on 127.0.0.1:25 and never says a word; it holds
// what it accepted until it stops. Its thread looks at the stop flag every
// 50 ms, so it never holds the test's end.
class SilentMailServer {
 public:
  ~SilentMailServer() { Stop(); }

  // "" when it listens, else why not.
  std::string Listen() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) return std::string("socket: ") + std::strerror(errno);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(25);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 128) != 0) {
      return std::string("listening on 127.0.0.1:25: ") + std::strerror(errno);
    }
    thread_ = std::thread([this] { Serve(); });
    return "";
  }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : accepted_) ::close(fd);
    accepted_.clear();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

  int Accepted() const { return accepted_count_.load(); }

 private:
  void Serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 50) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      accepted_.push_back(fd);
      ++accepted_count_;
    }
  }

  int listener_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_count_{0};
  std::vector<int> accepted_;  // the server thread's until it is joined
};

class CheckerMailLoadTest : public CheckCycleTest {
 protected:
  void SetUp() override {
    CheckCycleTest::SetUp();
    // The mail goes to port 25; a private network namespace lets the test
    // own that port without touching the machine's.
    saved_namespace_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(saved_namespace_, 0) << std::strerror(errno);
    if (::unshare(CLONE_NEWNET) != 0) {
      GTEST_SKIP() << "no private network namespace for a server on port 25: "
                   << std::strerror(errno);
    }
    in_private_namespace_ = true;
    ASSERT_EQ(LoopbackUp(), "");
    ASSERT_EQ(server_.Listen(), "");
  }

  void TearDown() override {
    if (installed_) {
      StopServiceByName(kChecker);
      EXPECT_TRUE(WaitStopped(10)) << "the checker did not stop within 10 s";
      std::string log = ReadFile(home_ + "/" + kCheckerLog);
      EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
      EXPECT_EQ(log.find("runtime error:"), std::string::npos) << log;
    }
    server_.Stop();
    if (in_private_namespace_) {
      EXPECT_EQ(::setns(saved_namespace_, CLONE_NEWNET), 0);
    }
    if (saved_namespace_ >= 0) ::close(saved_namespace_);
    CheckCycleTest::TearDown();
  }

  static std::string LoopbackUp() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::string("socket: ") + std::strerror(errno);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    std::string why;
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
      why = std::string("reading the flags of lo: ") + std::strerror(errno);
    } else {
      request.ifr_flags |= IFF_UP;
      if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0) why = std::string("raising lo: ") + std::strerror(errno);
    }
    ::close(fd);
    return why;
  }

  static void SetProductDword(const std::string& name, int value) {
    int result = 0;
    WriteProductValue("", name, kRegDword, &value, 4, &result);
    ASSERT_EQ(result, 0) << name;
  }

  // An installation whose one instance alerts on every check, every alert
  // going by mail to 127.0.0.1 with no wait between mails.
  void Install(int interval_ms) {
    int result = 0;
    WriteProductValue("", "rootDirectory", kRegSz, kRoot, sizeof kRoot, &result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(WriteServiceDword("kstCollector", "notFirstStartFlag", 1), 0);
    SetProductDword("intervalBetweenCheckings", interval_ms);
    SetProductDword("userNotificationStatus", 1);
    AddLog("Log", {kProcessorTitle});
    AddInstance("Log", "busy", Said(60, "too busy"));

    fs::copy_file(KST_ALERTER_LIBRARY, home_ + "/KestraneAlerter.so");
    fs::create_directory(home_ + "/Profiles");
    std::ofstream(home_ + "/Profiles/_default_.cfg") << "all:\nOps\ndefault:\nOps\n";
    std::ofstream(home_ + "/Profiles/Ops.cfg")
        << "Warning system config\n1 60 0\n0\n0\n1\n"
           "MailDeliverySystem\nops mail\n1000 0\n1 1 1 1\n"
           "admin@example.org\nkestrane@example.org\n127.0.0.1\n";

    std::unique_ptr<ServiceManager> manager;
    ASSERT_EQ(ServiceManager::Open(kManagerCreateService, &manager), kErrorSuccess);
    ServiceConfig config;
    config.name = "Kestrane stat checker";
    config.image_path = std::string(KST_CHECKER_PROGRAM) + " -service";
    std::unique_ptr<Service> service;
    ASSERT_EQ(manager->CreateService(config, kServiceAllAccess, &service), kErrorSuccess);
    installed_ = true;
  }

  static bool WaitStopped(double seconds) {
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    int state = -1;
    do {
      if (QueryServiceState(kChecker, &state) == 0 &&
          (state == kServiceStateStopped || state == kServiceStateNotInstalled)) {
        return true;
      }
      std::this_thread::sleep_for(milliseconds(50));
    } while (Clock::now() < end);
    return false;
  }

  // The checker's process: the one running our program with our home.
  pid_t CheckerPid() const {
    std::error_code ec;
    const fs::path program = fs::canonical(KST_CHECKER_PROGRAM, ec);
    const std::string entry = std::string(1, '\0') + "KESTRANE_HOME=" + home_ + std::string(1, '\0');
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
      const std::string pid = process.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      if (fs::read_symlink(process.path() / "exe", ec) != program || ec) continue;
      if ((std::string(1, '\0') + ReadFile(process.path() / "environ")).find(entry) != std::string::npos) {
        return static_cast<pid_t>(std::stol(pid));
      }
    }
    return -1;
  }

  static int Threads(pid_t pid) {
    std::error_code ec;
    int count = 0;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/task", ec), end; !ec && it != end;
         it.increment(ec)) {
      ++count;
    }
    return count;
  }

  uintmax_t MessagesSize() const {
    std::error_code ec;
    uintmax_t size = fs::file_size(home_ + "/alertmessages", ec);
    return ec ? 0 : size;
  }

  SilentMailServer server_;
  int saved_namespace_ = -1;
  bool in_private_namespace_ = false;
  bool installed_ = false;
};

// Unbounded, every check started a sender that waited a minute for the
// server: thousands of threads, descriptors run out, the controls stall.
// Bounded, the mails wait in the transporter's queue, and once it is full
// the log says so only now and then.
TEST_F(CheckerMailLoadTest, SilentServerLeavesThreadsBoundedAndServiceAnswering) {
  Install(50);  // the wait counts whole seconds: the checks run back to back
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  const pid_t pid = CheckerPid();
  ASSERT_GT(pid, 0) << "no running " << KST_CHECKER_PROGRAM << " with KESTRANE_HOME=" << home_;

  const int bound = kCheckerOwnThreads + kMailSendersPerTransporter + kAlerterTicker + kSpareThreads;
  int most_threads = 0;
  auto slowest_query = Clock::duration::zero();
  std::vector<uintmax_t> sizes;  // of alertmessages, one a second
  const auto start = Clock::now();
  for (int second = 1; second <= 6; ++second) {
    while (Clock::now() < start + std::chrono::seconds(second)) {
      const int threads = Threads(pid);
      most_threads = std::max(most_threads, threads);
      ASSERT_LE(threads, bound) << "threads of the checker after "
                                << std::chrono::duration<double>(Clock::now() - start).count() << " s";
      std::this_thread::sleep_for(milliseconds(100));
    }
    const auto asked = Clock::now();
    int state = -1;
    ASSERT_EQ(QueryServiceState(kChecker, &state), 0);
    const auto took = Clock::now() - asked;
    slowest_query = std::max(slowest_query, took);
    EXPECT_EQ(state, kServiceStateRunning);
    ASSERT_LT(took, std::chrono::seconds(30)) << "the query's answer, " << second
                                              << " s in (a sender waits a minute on the server)";
    sizes.push_back(MessagesSize());
  }
  std::printf("threads at most %d (bound %d), slowest query %.1f ms, %d connections, %ju bytes of alerts\n",
              most_threads, bound, std::chrono::duration<double, std::milli>(slowest_query).count(),
              server_.Accepted(), sizes.back());

  // Alerts reached the server, no more at once than one transporter may send.
  EXPECT_GE(server_.Accepted(), 1);
  EXPECT_LE(server_.Accepted(), kMailSendersPerTransporter);
  EXPECT_GT(most_threads, kCheckerOwnThreads) << "no sender ever ran";
  // The checks went on, second by second.
  for (size_t i = 1; i < sizes.size(); ++i) EXPECT_GT(sizes[i], sizes[i - 1]) << "second " << i + 1;
  // The mails that find the senders busy wait their turn until the queue is
  // full; what is dropped then is said once in 5 s, not once per check.
  const std::string log = ReadFile(home_ + "/" + kCheckerLog);
  const std::string dropped = "alerter: mail transporter \"ops mail\": not sent: dropped, 1000 mails of this "
                              "transporter wait to be sent\n";
  size_t lines = 0;
  for (size_t at = 0; (at = log.find(": not sent: ", at)) != std::string::npos; ++at) ++lines;
  EXPECT_NE(log.find(dropped), std::string::npos);
  EXPECT_GE(lines, 1u);
  EXPECT_LE(lines, 2u) << "6 s of checks";

  // The senders still wait for the server; the stop does not.
  ASSERT_EQ(StopServiceByName(kChecker), 0);
  ASSERT_TRUE(WaitStopped(30)) << "the checker did not stop within 30 s (a sender waits a minute on the server)";
}

// A FIFO where a profile belongs is refused at once, saying so: the checks
// go on and a stop is heard. Opened the blocking way, it held the checker's
// thread for ever and every stop request got 1061.
TEST_F(CheckerMailLoadTest, AFifoWhereAProfileBelongsHoldsNeitherTheChecksNorAStop) {
  Install(50);
  const std::string profile = home_ + "/Profiles/Ops.cfg";
  fs::remove(profile);
  UnwrittenFifo fifo(profile, 20);
  ASSERT_TRUE(fifo.made());
  ASSERT_EQ(StartServiceByName(kChecker), 0);
  const auto end = Clock::now() + std::chrono::seconds(10);
  std::string log;
  while (Clock::now() < end) {
    log = ReadFile(home_ + "/" + kCheckerLog);
    if (MessagesSize() > 0 && log.find("Ops.cfg is not a regular file") != std::string::npos) break;
    std::this_thread::sleep_for(milliseconds(50));
  }
  EXPECT_GT(MessagesSize(), 0u) << "no check recorded an alert within 10 s";
  EXPECT_NE(log.find("Ops.cfg is not a regular file"), std::string::npos) << log;
  ASSERT_EQ(StopServiceByName(kChecker), 0);
  EXPECT_TRUE(WaitStopped(10)) << "the checker did not stop within 10 s of the stop";
  EXPECT_FALSE(fifo.waited()) << "the checker waited on the FIFO until it was let go";
}

}  // namespace
}  // namespace kst
