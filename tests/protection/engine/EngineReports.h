#pragma once
// Collects the error reports of an engine object.
#include <string>
#include <vector>

#include "protection/fcrypt.h"

namespace enginetest {

struct Reports {
  std::vector<std::string> Messages;
  vg::TCryptoEngine::TErrorEvent Handler() {
    return [this](const std::string& message) { Messages.push_back(message); };
  }
};

}  // namespace enginetest
