#pragma once
// Name service questions that may wait for a resolver time-out (a name not in /etc/hosts, no DNS
// server reachable), asked on a thread of their own so that the window thread waits at most a
// bounded time, or not at all. A question that outlives its wait finishes on its own thread and
// its answer is dropped.

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The answer of a question running on its own thread: polled by the window thread.
class TPendingText {
public:
    // Runs question on a thread of its own; null when no thread could be made.
    static std::shared_ptr<TPendingText> Ask(std::function<std::string()> question);
    // The answer once it is there.
    std::optional<std::string> Answer() const;
    // Waits up to ms for the answer.
    std::optional<std::string> WaitFor(int ms) const;

    TPendingText() = default;

private:
    struct State;
    std::shared_ptr<State> FState;
};

// Resolves a dotted address or a host name to a dotted IPv4 address, waiting at most ms; empty
// when the name cannot be resolved in that time.
std::string ResolveWithin(const std::string& host, int ms);
