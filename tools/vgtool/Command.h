#pragma once
// vgtool's command registry: a command file defines a static Registration.
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vgtool {

using Args = std::vector<std::string>;
// Returns the process exit code; throws UsageError for bad usage (exit 1 with the usage text).
using Handler = std::function<int(const Args& args)>;

struct UsageError {
  std::string message;
};

struct Registration {
  Registration(std::string name, std::string usage, Handler handler);
};

// Prints a system text (Windows-1251) converted to UTF-8 for the terminal.
void PrintSystem(std::ostream& out, const std::string& cp1251);

// Reads all of standard input / writes bytes to standard output unchanged.
std::string ReadAllStdin();
void WriteStdout(const std::string& bytes);

}  // namespace vgtool
