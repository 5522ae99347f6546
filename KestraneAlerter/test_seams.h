// Knobs for tests only; production code never calls these.
#ifndef KESTRANE_ALERTER_TEST_SEAMS_H_
#define KESTRANE_ALERTER_TEST_SEAMS_H_

#include <cstdint>
#include <string>

namespace kst {

// Makes AlerterTime() return what `clock` returns; null restores the real
// clock. Not thread-safe: set it before the alerter runs.
void SetAlerterClockForTesting(int32_t (*clock)());

// The TCP port mail is sent to; 0 restores the standard port.
void SetMailPortForTesting(uint16_t port);
// How long the mail sender waits for a server's reply or for a send to go
// through; 0 restores the minute.
void SetMailTimeoutForTesting(int seconds);
// The name the mail sender takes the local host to have, with no lookup of
// its canonical name; null restores the host's own.
void SetMailHostNameForTesting(const char* name);
// How often the mail sender has looked up the name it gives in HELO.
int MailHeloLookupsForTesting();

// How often the alerter's ticker looks for work come due (held-back log
// counts, mail to try again); 0 restores once a second.
void SetAlerterTickForTesting(int milliseconds);

// Forgets every mail waiting to be tried again.
void ForgetMailRetriesForTesting();

// Hands every log line to `sink` (called from any thread) instead of
// standard error; null restores standard error.
void SetAlerterLogForTesting(void (*sink)(const std::string& line));

}  // namespace kst

#endif  // KESTRANE_ALERTER_TEST_SEAMS_H_
