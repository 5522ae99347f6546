// The profile list file, rootDirectory + "\Profiles\_default_.cfg":
// "all:", one profile name per line, "default:", then the default
// profile's name when there is one.
#ifndef KESTRANE_ALERTER_PROFILE_LIST_H_
#define KESTRANE_ALERTER_PROFILE_LIST_H_

#include <string>
#include <vector>

namespace kst {

class TextReader;

struct ProfileList {
  bool startsWithAll = false;   // the first line is exactly "all:"
  std::vector<std::string> names;  // non-empty name lines before "default:"
  bool hasDefaultMarker = false;   // a "default:" line was found
  bool hasDefaultLine = false;     // a line follows "default:"
  std::string defaultName;         // that line without its last character
};

// Reads the whole list. Name lines lose their last character (taken to be
// the line end) and are kept when something remains.
void ReadProfileList(TextReader& in, ProfileList* list);

}  // namespace kst

#endif  // KESTRANE_ALERTER_PROFILE_LIST_H_
