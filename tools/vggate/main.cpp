// vggate --config FILE: a protecting gateway for the tunnel's protected servers, on loopback.
#include <cstdio>
#include <cstring>
#include <string>

#include "GateConfig.h"
#include "Gateway.h"
#include "Server.h"
#include "platform/Instance.h"
#include "platform/Net.h"
#include "protection/CipherhubLib.h"
#include "protection/fcrypt.h"

namespace {

void Usage(std::FILE* out) {
  std::fputs(
      "usage: vggate --config FILE\n"
      "Serves the tunnel's protocol on a loopback address and forwards unprotected requests to the\n"
      "web servers named in the file; see tools/vggate/example.ini.\n",
      out);
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "vggate: %s\n", text.c_str());
  return 1;
}

// The engine type with its parameters applied in file order, each checked by the engine.
bool EngineParams(const vggate::TGateConfig& config, vg::TCryptoParams& params, std::string& error) {
  try {
    vg::TCryptoParamsEditorLink link;
    link.SetEngineType(config.engine);
    if (link.EngineType() != config.engine) {
      error = "unknown engine type \"" + config.engine + "\"";
      return false;
    }
    for (const auto& [name, value] : config.engineParams) {
      const int index = link.IndexOfParam(name);
      if (index < 0) {
        std::string known;
        for (int i = 0; i < link.ParamCount(); ++i) {
          std::string n;
          link.ParamName(i, n);
          known += (i ? ", " : "") + n;
        }
        error = "the engine has no parameter \"" + name + "\" (it has: " + known + ")";
        return false;
      }
      if (!link.SetParamValue(index, value)) {
        error = "the engine refuses " + name + "=" + value;
        return false;
      }
      params.AddParam(index, value);
    }
    params.SetEngineType(config.engine);
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string configPath;
  for (int i = 1; i < argc; ++i) {
    if ((std::strcmp(argv[i], "--config") == 0 || std::strcmp(argv[i], "-c") == 0) && i + 1 < argc) {
      configPath = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(stdout);
      return 0;
    } else {
      Usage(stderr);
      return 2;
    }
  }
  if (configPath.empty()) {
    Usage(stderr);
    return 2;
  }
  // Before any thread starts, so that SIGINT and SIGTERM reach only the event loop.
  vg::platform::EventLoop::BlockTerminationSignals();

  vggate::TGateConfig config;
  std::string error;
  if (!vggate::LoadGateConfig(configPath, config, error)) return Fail(error);
  vg::TCryptoParams params;
  if (!EngineParams(config, params, error)) return Fail(error);

  vg::platform::ListenSocket listener;
  const int code = listener.Listen(config.listenPort, true);
  if (code != 0)
    return Fail("cannot listen on " + config.listenHost + ":" + std::to_string(config.listenPort) + ": " +
                vg::platform::NetErrorText(code) + " (" + std::to_string(code) + ")");

  vg::platform::WakeSignal wake;
  vggate::TGateway gateway(config, params, vggate::SocketForwarder(config.maxDataLength, &wake));
  vggate::TServer server(gateway, listener, wake);
  std::fprintf(stderr, "vggate: listening on 127.0.0.1:%d, protocol %s, engine %s, %zu backend(s)\n",
               listener.Port(), config.protocol.c_str(), config.engine.c_str(), config.backends.size());
  std::fflush(stderr);
  server.Start();

  vg::platform::EventLoop loop;
  const int rc = loop.Run();
  server.Stop();
  listener.Close();
  std::fprintf(stderr, "vggate: stopped\n");
  return rc;
}
