#include "bench/Bench.h"

std::vector<BenchCommand>& BenchCommands() {
  static std::vector<BenchCommand> commands;
  return commands;
}
