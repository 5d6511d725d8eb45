#include "core/Host.h"

namespace tarn {

namespace {

class SilentHost final : public Host {
  public:
    void ProcessMessages() override {}
    void ShowMessage(const std::string&) override {}
    bool MinimumPhaseOption() override { return false; }
};

SilentHost silentHost;
Host* currentHost = nullptr;

} // namespace

Host& CurrentHost() {
    return currentHost ? *currentHost : silentHost;
}

Host* SetHost(Host* host) {
    Host* previous = currentHost;
    currentHost = host;
    return previous;
}

} // namespace tarn
