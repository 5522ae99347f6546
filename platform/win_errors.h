// The Win32 error numbers that the system's callers map to their own result
// codes. Every platform interface reports with these; each interface turns
// errno (or SQLite's codes) into them in exactly one function of its own.
#ifndef KESTRANE_PLATFORM_WIN_ERRORS_H_
#define KESTRANE_PLATFORM_WIN_ERRORS_H_

#include <cstdint>

namespace kst {

using WinError = uint32_t;

inline constexpr WinError kErrorSuccess = 0;
inline constexpr WinError kErrorFileNotFound = 2;
inline constexpr WinError kErrorPathNotFound = 3;
inline constexpr WinError kErrorAccessDenied = 5;
inline constexpr WinError kErrorInvalidHandle = 6;
inline constexpr WinError kErrorNotEnoughMemory = 8;
inline constexpr WinError kErrorInvalidParameter = 87;
inline constexpr WinError kErrorAlreadyExists = 183;
inline constexpr WinError kErrorMoreData = 234;
inline constexpr WinError kErrorNoMoreItems = 259;
inline constexpr WinError kErrorServiceRequestTimeout = 1053;
inline constexpr WinError kErrorServiceAlreadyRunning = 1056;
inline constexpr WinError kErrorServiceDoesNotExist = 1060;
inline constexpr WinError kErrorServiceCannotAcceptCtrl = 1061;
inline constexpr WinError kErrorServiceNotActive = 1062;
inline constexpr WinError kErrorFailedServiceControllerConnect = 1063;
inline constexpr WinError kErrorServiceSpecificError = 1066;
inline constexpr WinError kErrorServiceMarkedForDelete = 1072;
inline constexpr WinError kErrorServiceExists = 1073;

}  // namespace kst

#endif  // KESTRANE_PLATFORM_WIN_ERRORS_H_
