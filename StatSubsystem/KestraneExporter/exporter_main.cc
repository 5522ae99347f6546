#include <iostream>

#include "StatSubsystem/KestraneExporter/exporter_run.h"

int main(int argc, char** argv) {
  kst::BufferExporter exporter(kst::SystemLocalTime, &std::cout);
  return kst::RunExporter(argc, argv, &exporter, kst::SystemLocalTime, std::cerr);
}
