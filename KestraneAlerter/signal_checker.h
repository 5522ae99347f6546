// Asks the checking service to reload its configuration.
#ifndef KESTRANE_ALERTER_SIGNAL_CHECKER_H_
#define KESTRANE_ALERTER_SIGNAL_CHECKER_H_

namespace kst {

// Sends reloadControlCode to the checking service: 0 sent; -12 no
// service manager; -13 the service is not installed or cannot be opened;
// -14 the control was refused (for instance the service is not running).
// Shows nothing.
int signalCheckingService();

}  // namespace kst

#endif  // KESTRANE_ALERTER_SIGNAL_CHECKER_H_
