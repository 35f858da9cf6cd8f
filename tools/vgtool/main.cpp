// vgtool: the project's command-line utility.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "Command.h"
#include "platform/CodePage.h"
#include "platform/SysUtils.h"
#include "protection/TextRoutines.h"

namespace vgtool {
namespace {
struct Entry {
  std::string usage;
  Handler handler;
};
std::map<std::string, Entry>& Commands() {
  static std::map<std::string, Entry> commands;
  return commands;
}

int Usage(std::ostream& out) {
  out << "usage: vgtool --version\n";
  for (const auto& [name, entry] : Commands()) out << "       vgtool " << entry.usage << "\n";
  return 1;
}
}  // namespace

Registration::Registration(std::string name, std::string usage, Handler handler) {
  Commands()[std::move(name)] = Entry{std::move(usage), std::move(handler)};
}

void PrintSystem(std::ostream& out, const std::string& cp1251) { out << vg::platform::Cp1251ToUtf8(cp1251); }

std::string ReadAllStdin() {
  std::string data;
  char buf[65536];
  for (;;) {
    const size_t n = std::fread(buf, 1, sizeof buf, stdin);
    data.append(buf, n);
    if (n < sizeof buf) {
      if (std::ferror(stdin)) throw std::runtime_error("cannot read standard input");
      break;
    }
  }
  return data;
}

void WriteStdout(const std::string& bytes) {
  // A short write (closed pipe, full disk) must not end with success.
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0)
    throw std::runtime_error("cannot write standard output");
}

}  // namespace vgtool

int main(int argc, char** argv) {
  using namespace vgtool;
#ifdef _WIN32
  // Compressed data and Windows-1251 texts pass through the standard streams byte for byte.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  Args args(argv + 1, argv + argc);
  if (args.empty()) return Usage(std::cerr);
  if (args[0] == "--version") {
    std::cout << vg::ProgramVersion() << "\n";
    return 0;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    Usage(std::cout);
    return 0;
  }
  auto it = Commands().find(args[0]);
  if (it == Commands().end()) {
    std::cerr << "vgtool: unknown command '" << args[0] << "'\n";
    return Usage(std::cerr);
  }
  try {
    return it->second.handler(Args(args.begin() + 1, args.end()));
  } catch (const UsageError& e) {
    if (!e.message.empty()) std::cerr << "vgtool: " << e.message << "\n";
    std::cerr << "usage: vgtool " << it->second.usage << "\n";
    return 1;
  } catch (const vg::Exception& e) {
    std::cerr << "vgtool: ";
    PrintSystem(std::cerr, e.Message());
    std::cerr << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "vgtool: " << e.what() << "\n";
    return 1;
  }
}
