// Where a program delivery that could not start leaves its one trace.
#ifndef KESTRANE_ALERTER_SHELL_DELIVERY_H_
#define KESTRANE_ALERTER_SHELL_DELIVERY_H_

namespace kst {

inline constexpr char kShellFailureFile[] = "C:\\Program Files\\Kestrane\\debug output file.txt";

}  // namespace kst

#endif  // KESTRANE_ALERTER_SHELL_DELIVERY_H_
