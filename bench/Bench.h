#pragma once
// Registration of corvale-bench subcommands: each file of bench/ registers its own with a static
// BenchRegistration, so adding a measured path needs no edit elsewhere.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct BenchCommand {
  std::string name;
  std::string usage;
  std::function<int(int argc, char** argv)> run;
};

std::vector<BenchCommand>& BenchCommands();

struct BenchRegistration {
  BenchRegistration(std::string name, std::string usage, std::function<int(int, char**)> run) {
    BenchCommands().push_back({std::move(name), std::move(usage), std::move(run)});
  }
};

// Reads what of the image is not in the page cache yet, so that what is measured next reads from the
// page cache when it fits.
void WarmPageCache(const std::string& image);

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
