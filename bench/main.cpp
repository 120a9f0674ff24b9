// corvale-bench: one subcommand per measured path. Each prints what it measured and ends with one
// line of JSON holding its figures.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/Bench.h"

int main(int argc, char** argv) {
  if (argc >= 2) {
    for (const BenchCommand& c : BenchCommands()) {
      if (c.name == argv[1]) return c.run(argc - 2, argv + 2);
    }
  }
  std::fprintf(stderr, "usage: corvale-bench COMMAND ARGS\ncommands:\n");
  for (const BenchCommand& c : BenchCommands())
    std::fprintf(stderr, "  %s %s\n", c.name.c_str(), c.usage.c_str());
  return 2;
}
