// Test program: writes its working folder and its arguments, each ended by
// a zero byte, to $KESTRANE_HOME/<its own file name>.out.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* home = std::getenv("KESTRANE_HOME");
  if (home == nullptr) return 1;
  std::string name = argv[0];
  name = name.substr(name.find_last_of('/') + 1);
  std::string out = std::string(home) + "/" + name + ".out";
  std::string text;
  char cwd[4096];
  text += getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?";
  text += '\0';
  for (int i = 1; i < argc; ++i) {
    text += argv[i];
    text += '\0';
  }
  // Appear whole: write aside, then rename.
  std::string partial = out + ".partial";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) return 1;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  return std::rename(partial.c_str(), out.c_str()) == 0 ? 0 : 1;
}
