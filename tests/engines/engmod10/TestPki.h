#pragma once
// The demo PKI and small file helpers shared by the engine's tests.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OpenSslEngine.h"

namespace engmod10::test {

// The demo PKI of scripts/make-demo-pki.sh: $VG_ENGMOD10_PKI, or made once for this process.
const std::string& PkiDir();
std::string Pki(const std::string& name);
std::string DemoPassword();

// A new empty directory under the system's temporary directory, removed when the process ends.
std::string MakeTempDir();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command and gives its exit status.
int Shell(const std::string& command);

std::vector<uint8_t> Bytes(const std::string& text);
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

// Engine set up as one side of the demo: own identity, the demo CA, the demo subscribers.
std::unique_ptr<OpenSslEngine> MakeEngine(const std::string& certFile, const std::string& keyFile,
                                          const std::string& partner, const std::string& subscribersDir);
inline std::unique_ptr<OpenSslEngine> ClientEngine() {
  return MakeEngine(Pki("client.pem"), Pki("client.key"), "vg-gateway", Pki("subscribers"));
}
inline std::unique_ptr<OpenSslEngine> GatewayEngine() {
  return MakeEngine(Pki("gateway.pem"), Pki("gateway.key"), "vg-client", Pki("subscribers"));
}

}  // namespace engmod10::test
