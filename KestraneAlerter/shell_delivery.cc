#include "KestraneAlerter/shell_delivery.h"

#include "KestraneAlerter/alerter_time.h"
#include "KestraneAlerter/configuration.h"
#include "KestraneAlerter/delivery_system.h"
#include "KestraneAlerter/report_text.h"
#include "KestraneAlerter/text_file.h"
#include "platform/process.h"

namespace kst {

// Keeps only the last failed attempt.
static void WriteFailureFile(const std::string& program, const std::string& text,
                             const std::string& directory) {
  std::FILE* out = CreateTextFile(kShellFailureFile);
  if (out == nullptr) return;
  WriteText(out, "Done! \n%s \n%s \n%s \n", program.c_str(), text.c_str(), directory.c_str());
  std::fflush(out);
  std::fclose(out);
}

// The program's own word of the command line, quoted when it holds a blank
// ("C:\Program Files\..."), so that the text's words are the first
// arguments the program sees.
static std::string ProgramWord(const std::string& path) {
  bool blank = path.find_first_of(" \t") != std::string::npos;
  return blank && path.find('"') == std::string::npos ? "\"" + path + "\"" : path;
}

int32_t ShellDeliverySystem::deliver(const AlertList& messages, const DeliverySettings& settings) {
  int32_t now = AlerterTime();
  if (messages.empty()) return -1;
  if (!passMinimalWait(now, settings.minimalWait)) return 0;
  const auto& shell = static_cast<const ShellDeliverySettings&>(settings);
  std::string text = buildReportText(messages, settings);
  std::string directory = AlerterRootDirectory();

  // The program gets the text as its arguments, split by the command-line
  // rules; no shell ever sees it.
  ProcessOptions options;
  options.application = shell.executionFilePath;
  // The path names the program; a bare name is not looked for elsewhere.
  options.search_path = false;
  options.working_directory = directory;
  options.hidden = true;
  bool started = !shell.executionFilePath.empty() &&
                 StartDetachedProgram(ProgramWord(shell.executionFilePath) + " " + text, options) == kErrorSuccess;
  if (started) return 0;
  WriteFailureFile(shell.executionFilePath, text, directory);
  return -1;
}

}  // namespace kst
