#include "platform/services_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/ascii.h"
#include "platform/paths.h"

namespace kst::service_channel {

namespace {

// Socket addresses are short; a long home folder is reached through a
// descriptor of the run folder instead of its path.
class SocketAddress {
 public:
  explicit SocketAddress(const std::string& path) {
    std::memset(&addr_, 0, sizeof(addr_));
    addr_.sun_family = AF_UNIX;
    std::string use = path;
    if (path.size() >= sizeof(addr_.sun_path)) {
      size_t slash = path.rfind('/');
      folder_fd_ = ::open(path.substr(0, slash).c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC);
      use = "/proc/self/fd/" + std::to_string(folder_fd_) + path.substr(slash);
    }
    valid_ = use.size() < sizeof(addr_.sun_path);
    if (valid_) std::memcpy(addr_.sun_path, use.c_str(), use.size() + 1);
  }
  ~SocketAddress() {
    if (folder_fd_ >= 0) ::close(folder_fd_);
  }
  bool valid() const { return valid_; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr_); }
  socklen_t size() const { return sizeof(addr_); }

 private:
  sockaddr_un addr_;
  int folder_fd_ = -1;
  bool valid_ = false;
};

}  // namespace

void Put32(unsigned char* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t Get32(const unsigned char* in) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(in[i]) << (8 * i);
  return v;
}

void EncodeRequest(const Request& request, unsigned char out[kRequestSize]) {
  Put32(out, kRequestTag);
  Put32(out + 4, request.operation);
  Put32(out + 8, request.control);
}

bool DecodeRequest(const unsigned char in[kRequestSize], Request* request) {
  if (Get32(in) != kRequestTag) return false;
  request->operation = Get32(in + 4);
  request->control = Get32(in + 8);
  return true;
}

void EncodeAnswer(WinError error, const ServiceStatus& s,
                  unsigned char out[kAnswerSize]) {
  const uint32_t fields[8] = {error, s.service_type, s.current_state,
                              s.controls_accepted, s.win32_exit_code,
                              s.service_specific_exit_code, s.check_point,
                              s.wait_hint};
  for (int i = 0; i < 8; ++i) Put32(out + 4 * i, fields[i]);
}

void DecodeAnswer(const unsigned char in[kAnswerSize], WinError* error,
                  ServiceStatus* s) {
  *error = Get32(in);
  s->service_type = Get32(in + 4);
  s->current_state = Get32(in + 8);
  s->controls_accepted = Get32(in + 12);
  s->win32_exit_code = Get32(in + 16);
  s->service_specific_exit_code = Get32(in + 20);
  s->check_point = Get32(in + 24);
  s->wait_hint = Get32(in + 28);
}

std::string RunFolder() { return KestraneHome() + "/run"; }

std::string ServiceFile(std::string_view name, std::string_view suffix) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : name) {
    hash = (hash ^ static_cast<unsigned char>(FoldAscii(c))) * 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(hash));
  return RunFolder() + "/" + hex + std::string(suffix);
}

WinError ErrnoToWinError(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT:
    case ECONNREFUSED: return kErrorServiceNotActive;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM: return kErrorAccessDenied;
    case ETIMEDOUT: return kErrorServiceRequestTimeout;
    case ENOMEM:
    case ENOBUFS: return kErrorNotEnoughMemory;
    case ENAMETOOLONG:
    case EINVAL: return kErrorInvalidParameter;
    default: return kErrorAccessDenied;
  }
}

WinError EnsureRunFolder() {
  std::string folder = RunFolder();
  ::mkdir(KestraneHome().c_str(), 0755);
  if (::mkdir(folder.c_str(), 0700) == 0) return kErrorSuccess;
  if (errno == ENOENT) return kErrorPathNotFound;
  if (errno != EEXIST) return ErrnoToWinError(errno);
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) return ErrnoToWinError(errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return kErrorAccessDenied;
  if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    return ErrnoToWinError(errno);
  }
  return kErrorSuccess;
}

int Listen(std::string_view name, WinError* error) {
  std::string path = ServiceFile(name, ".sock");
  SocketAddress address(path);
  if (!address.valid()) {
    *error = kErrorInvalidParameter;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = ErrnoToWinError(errno);
    return -1;
  }
  ::unlink(path.c_str());
  if (::bind(fd, address.get(), address.size()) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
    *error = ErrnoToWinError(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

WinError Connect(std::string_view name, int* fd_out) {
  SocketAddress address(ServiceFile(name, ".sock"));
  if (!address.valid()) return kErrorInvalidParameter;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ErrnoToWinError(errno);
  if (::connect(fd, address.get(), address.size()) != 0) {
    WinError error = ErrnoToWinError(errno);
    ::close(fd);
    return error;
  }
  *fd_out = fd;
  return kErrorSuccess;
}

WinError Exchange(std::string_view name, const Request& request,
                  WinError* answer, ServiceStatus* status) {
  int fd = -1;
  WinError error = Connect(name, &fd);
  if (error != kErrorSuccess) return error;
  unsigned char out[kRequestSize];
  unsigned char in[kAnswerSize];
  EncodeRequest(request, out);
  bool timed_out = false;
  bool ok = WriteFully(fd, out, sizeof(out)) &&
            ReadFully(fd, in, sizeof(in), /*timeout_ms=*/30000, &timed_out);
  ::close(fd);
  if (timed_out) return kErrorServiceRequestTimeout;
  // A program that goes away while it answers is not running any more.
  if (!ok) return kErrorServiceNotActive;
  DecodeAnswer(in, answer, status);
  return kErrorSuccess;
}

bool ReadFully(int fd, unsigned char* data, size_t size, int timeout_ms,
               bool* timed_out) {
  if (timed_out != nullptr) *timed_out = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t done = 0;
  while (done < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    int r = left <= 0 ? 0 : ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 && timed_out != nullptr) *timed_out = true;
    if (r <= 0) return false;
    ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFully(int fd, const unsigned char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

namespace {

ServiceStatus AbortedStatus() {
  ServiceStatus status;
  status.win32_exit_code = kErrorProcessAborted;
  return status;
}

}  // namespace

int ReserveFinalStatus(std::string_view name, WinError* error) {
  std::string path = ServiceFile(name, ".status");
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = ErrnoToWinError(errno);
    return -1;
  }
  KeepFinalStatus(fd, AbortedStatus());
  return fd;
}

bool KeepFinalStatus(int fd, const ServiceStatus& status) {
  unsigned char bytes[kAnswerSize];
  EncodeAnswer(kErrorSuccess, status, bytes);
  size_t done = 0;
  while (done < sizeof(bytes)) {
    ssize_t n = ::pwrite(fd, bytes + done, sizeof(bytes) - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ::fdatasync(fd) == 0;
}

bool ReadFinalStatus(std::string_view name, ServiceStatus* status) {
  int fd = ::open(ServiceFile(name, ".status").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return false;
  unsigned char bytes[kAnswerSize];
  bool whole = fd >= 0 && ::pread(fd, bytes, sizeof(bytes), 0) == static_cast<ssize_t>(sizeof(bytes));
  if (fd >= 0) ::close(fd);
  WinError ignored;
  if (whole) {
    DecodeAnswer(bytes, &ignored, status);
  } else {
    *status = AbortedStatus();
  }
  return true;
}

void ForgetFinalStatus(std::string_view name) {
  ::unlink(ServiceFile(name, ".status").c_str());
}

}  // namespace kst::service_channel
