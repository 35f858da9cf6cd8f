#include "GateConfig.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/Net.h"
#include "protection/TextRoutines.h"

namespace vggate {
namespace {

std::string Trim(std::string s) {
  const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t first = 0;
  while (first < s.size() && blank(static_cast<unsigned char>(s[first]))) ++first;
  return s.substr(first);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseInt(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
  value = v;
  return true;
}

bool ParseBool(const std::string& text, bool& value) {
  const std::string t = Lower(text);
  if (t == "1" || t == "yes" || t == "true" || t == "on") return value = true, true;
  if (t == "0" || t == "no" || t == "false" || t == "off") return value = false, true;
  return false;
}

// "host:port" with a port from 0 to 65535.
bool ParseAddress(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  int64_t p = 0;
  if (!ParseInt(Trim(text.substr(colon + 1)), 0, 65535, p)) return false;
  host = Trim(text.substr(0, colon));
  port = static_cast<int>(p);
  return !host.empty();
}

// The listener binds the loopback address 127.0.0.1 only.
bool IsLoopback(const std::string& host) { return Lower(host) == "localhost" || host == "127.0.0.1"; }

}  // namespace

const TBackend* TGateConfig::FindBackend(const std::string& hostText) const {
  vg::THttpEntry wanted;
  wanted.Parse(hostText);
  if (wanted.Host().empty()) return nullptr;
  for (const auto& backend : backends)
    if (backend.host.SameAs(wanted)) return &backend;
  return nullptr;
}

bool ParseGateConfig(const std::string& text, TGateConfig& config, std::string& error) {
  std::istringstream in(text);
  std::string raw;
  std::string section;
  int lineNumber = 0;
  auto fail = [&](const std::string& what) {
    error = "line " + std::to_string(lineNumber) + ": " + what;
    return false;
  };
  while (std::getline(in, raw)) {
    ++lineNumber;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("section header without \"]\"");
      section = Lower(Trim(line.substr(1, line.size() - 2)));
      if (section != "gateway" && section != "engine" && section != "backends" && section != "faults")
        return fail("unknown section [" + line.substr(1, line.size() - 2) + "]");
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected name=value");
    const std::string name = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    const std::string key = Lower(name);
    if (name.empty()) return fail("empty name");
    if (section.empty()) return fail("\"" + name + "\" outside a section");
    int64_t n = 0;
    if (section == "gateway") {
      if (key == "listen") {
        if (!ParseAddress(value, config.listenHost, config.listenPort)) return fail("Listen must be address:port");
        if (!IsLoopback(config.listenHost)) return fail("Listen must be the loopback address 127.0.0.1 (or localhost)");
      } else if (key == "protocol") {
        if (vg::ParseVersion(value) < 65536) return fail("Protocol must be a version such as 1.5");
        config.protocol = value;
      } else if (key == "engine") {
        if (value.empty()) return fail("Engine must name an engine type");
        config.engine = value;
      } else if (key == "compress") {
        if (!ParseInt(value, 0, 2, n)) return fail("Compress must be 0, 1 or 2");
        config.compress = static_cast<int>(n);
      } else if (key == "maxdatalength") {
        if (!ParseInt(value, 1024, INT32_MAX, n)) return fail("MaxDataLength must be a number of bytes (at least 1024)");
        config.maxDataLength = static_cast<int32_t>(n);
      } else if (key == "keyidleseconds") {
        if (!ParseInt(value, 1, 86400 * 30, n)) return fail("KeyIdleSeconds must be a positive number");
        config.keyIdleSeconds = static_cast<int>(n);
      } else if (key == "renewkeyvalues") {
        if (!ParseBool(value, config.renewKeyValues)) return fail("RenewKeyValues must be 0 or 1");
      } else {
        return fail("unknown item \"" + name + "\" in [Gateway]");
      }
    } else if (section == "engine") {
      config.engineParams.emplace_back(name, value);
    } else if (section == "backends") {
      TBackend backend;
      backend.host.Parse(name);
      if (backend.host.Host().empty()) return fail("a backend needs a host name");
      if (!ParseAddress(value, backend.address, backend.port) || backend.port == 0)
        return fail("a backend must be address:port");
      config.backends.push_back(std::move(backend));
    } else {
      TFaults& f = config.faults;
      if (key == "rekey591" || key == "closeafter" || key == "delayms") {
        if (!ParseInt(value, 0, 1000000, n)) return fail(name + " must be a number of at least 0");
        (key == "rekey591" ? f.rekey591 : key == "closeafter" ? f.closeAfter : f.delayMs) = static_cast<int>(n);
      } else if (key == "refuse591") {
        if (Lower(value) == "all")
          f.refuse591 = TFaults::kEveryRequest;
        else if (ParseInt(value, 0, 1000000, n))
          f.refuse591 = static_cast<int>(n);
        else
          return fail(name + " must be a number of at least 0 or \"all\"");
      } else if (key == "keystatus") {
        if (!ParseInt(value, 0, 999, n) || (n != 0 && n < 100)) return fail("KeyStatus must be 0 or a status code");
        f.keyStatus = static_cast<int>(n);
      } else if (key == "plainanswers") {
        if (!ParseBool(value, f.plainAnswers)) return fail("PlainAnswers must be 0 or 1");
      } else if (key == "corruptanswers") {
        if (!ParseBool(value, f.corruptAnswers)) return fail("CorruptAnswers must be 0 or 1");
      } else if (key == "wrongkeyanswers") {
        if (!ParseBool(value, f.wrongKeyAnswers)) return fail("WrongKeyAnswers must be 0 or 1");
      } else if (key == "hangup") {
        if (!ParseBool(value, f.hangUp)) return fail("HangUp must be 0 or 1");
      } else {
        return fail("unknown item \"" + name + "\" in [Faults]");
      }
    }
  }
  return true;
}

bool LoadGateConfig(const std::string& path, TGateConfig& config, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!ParseGateConfig(text.str(), config, error)) {
    error = path + ", " + error;
    return false;
  }
  return true;
}

}  // namespace vggate
