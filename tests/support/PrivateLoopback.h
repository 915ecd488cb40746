#pragma once
// A private network of this test process's own: a fresh network namespace with nothing but a
// loopback interface (and, when asked, a point-to-point interface the test injects packets into).
// Nothing sent there reaches this machine's real interfaces.

#include "platform/UniqueFd.h"

#include <functional>
#include <string>

// Runs body on a thread of its own inside a fresh network namespace that holds nothing but a
// loopback interface that is up. Returns why it could not (empty when body ran).
std::string RunInPrivateLoopbackNetwork(const std::function<void()>& body);

// A point-to-point interface "tvforeign0" (10.9.9.1/24) in the calling thread's namespace, through
// which a test injects datagrams that arrive from outside the loopback network.
class ForeignInterface {
public:
    ForeignInterface();
    bool Ready() const { return ready; }
    // A broadcast from 10.9.9.2:7000 to port, as if a host behind this interface had sent it.
    bool InjectBroadcast(int port, const std::string& payload);

private:
    UniqueFd tun;
    bool ready = false;
};
