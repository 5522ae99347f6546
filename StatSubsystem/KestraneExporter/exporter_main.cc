#include <iostream>

#include "StatSubsystem/KestraneExporter/exporter_options.h"

int main(int argc, char** argv) {
  kst::ExporterOptions options;
  const int code = kst::ParseExporterOptions(argc, argv, &options);
  if (code < 0) {
    kst::PrintExporterError(std::cerr, code == -1 ? "bad parameter" : "bad parameter value");
    kst::PrintExporterUsage(std::cerr);
    return 0;
  }
  return 0;
}
