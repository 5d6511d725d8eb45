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
thread_local Host* threadHost = nullptr;

} // namespace

Host& CurrentHost() {
    if (threadHost) return *threadHost;
    return currentHost ? *currentHost : silentHost;
}

ThreadHost::ThreadHost(Host& host) : previous_(threadHost) {
    threadHost = &host;
}

ThreadHost::~ThreadHost() {
    threadHost = previous_;
}

Host* SetHost(Host* host) {
    Host* previous = currentHost;
    currentHost = host;
    return previous;
}

} // namespace tarn
