// Inside the service layer only: where a service's control socket lives, the
// byte form of requests and answers on it, and the hand-shake between the
// manager that starts a program and the program's dispatcher.
//
// A request is 12 bytes: the tag "KSVC", the operation (1 control, 2 status
// query) and the control code, each a 32-bit little-endian number. The
// answer is 32 bytes: the Win32 error, then the seven fields of the status.
#ifndef KESTRANE_PLATFORM_SERVICES_CHANNEL_H_
#define KESTRANE_PLATFORM_SERVICES_CHANNEL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/services.h"

namespace kst::service_channel {

// Environment of a program the manager starts: the descriptor on which its
// dispatcher reports that it connected, and the service's name.
inline constexpr char kStartupFdVariable[] = "KST_SERVICE_STARTUP_FD";
inline constexpr char kNameVariable[] = "KST_SERVICE_NAME";

// The service database: one key per service under this one.
inline constexpr char kServicesKey[] = "System\\CurrentControlSet\\Services";

inline constexpr uint32_t kRequestTag = 0x4356534b;  // "KSVC"
inline constexpr uint32_t kOperationControl = 1;
inline constexpr uint32_t kOperationQuery = 2;
inline constexpr size_t kRequestSize = 12;
inline constexpr size_t kAnswerSize = 32;

// A 32-bit little-endian number, written and read byte by byte.
void Put32(unsigned char* out, uint32_t value);
uint32_t Get32(const unsigned char* in);

struct Request {
  uint32_t operation = 0;
  uint32_t control = 0;
};

void EncodeRequest(const Request& request, unsigned char out[kRequestSize]);
// False when the tag is wrong.
bool DecodeRequest(const unsigned char in[kRequestSize], Request* request);
void EncodeAnswer(WinError error, const ServiceStatus& status,
                  unsigned char out[kAnswerSize]);
void DecodeAnswer(const unsigned char in[kAnswerSize], WinError* error,
                  ServiceStatus* status);

// $KESTRANE_HOME/run, and a service's files in it: <hash>.sock, <hash>.lock
// (the hash is of the name without regard to ASCII case).
std::string RunFolder();
std::string ServiceFile(std::string_view name, std::string_view suffix);

// Creates the run folder (mode 0700) when missing; it must belong to this
// user, and is made 0700 when it is not.
WinError EnsureRunFolder();

// The one place where errno becomes a Win32 number in the service layer.
WinError ErrnoToWinError(int err);

// A listening socket for the service (an old socket file is replaced;
// accept does not block), or -1 and *error.
int Listen(std::string_view name, WinError* error);
// Connects to a running service's socket; kErrorServiceNotActive when no
// program serves it.
WinError Connect(std::string_view name, int* fd);
// Sends one request on a fresh connection and reads the answer.
// kErrorServiceNotActive when no program serves it.
WinError Exchange(std::string_view name, const Request& request,
                  WinError* answer, ServiceStatus* status);

// Whole reads with a time limit: false on error, end or time-out
// (*timed_out, may be null, tells the last apart), and whole writes.
bool ReadFully(int fd, unsigned char* data, size_t size, int timeout_ms,
               bool* timed_out = nullptr);
bool WriteFully(int fd, const unsigned char* data, size_t size);

// The status a service reported last before it stopped, kept beside its
// socket so that queries still see its exit codes. Start forgets it.
//
// The dispatcher reserves the file when its program connects: the whole
// record, saying that the process ended unexpectedly (kErrorProcessAborted),
// which the stopped report later overwrites in place. Bytes already
// allocated need no new space, so a full disk cannot turn a stop on a
// failure into a clean one. Returns the descriptor to keep, or -1 and
// *error when the file cannot be made (a record that could not be written
// leaves the file short, which also reads as an unexpected end).
int ReserveFinalStatus(std::string_view name, WinError* error);
// Overwrites the reserved record and syncs it; false when that failed.
bool KeepFinalStatus(int fd, const ServiceStatus& status);
// The status of a service whose program has gone: false when no start left
// a file (*status untouched).
bool ReadFinalStatus(std::string_view name, ServiceStatus* status);
void ForgetFinalStatus(std::string_view name);

}  // namespace kst::service_channel

#endif  // KESTRANE_PLATFORM_SERVICES_CHANNEL_H_
