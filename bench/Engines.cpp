#include "bench/Engines.h"

std::vector<BenchEngine>& BenchEngines() {
  static std::vector<BenchEngine> engines;
  return engines;
}
