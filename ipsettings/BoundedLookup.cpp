#include "ipsettings/BoundedLookup.h"

#include "comm/Recvthread.h"

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct TPendingText::State {
    mutable std::mutex mutex;
    mutable std::condition_variable answered;
    std::optional<std::string> answer;
};

std::shared_ptr<TPendingText> TPendingText::Ask(std::function<std::string()> question)
{
    auto pending = std::make_shared<TPendingText>();
    pending->FState = std::make_shared<State>();
    try {
        std::thread([state = pending->FState, question = std::move(question)] {
            std::string answer = question();
            {
                std::lock_guard lock(state->mutex);
                state->answer = std::move(answer);
            }
            state->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return pending;
}

std::optional<std::string> TPendingText::Answer() const
{
    return WaitFor(0);
}

std::optional<std::string> TPendingText::WaitFor(int ms) const
{
    std::unique_lock lock(FState->mutex);
    FState->answered.wait_for(
        lock, std::chrono::milliseconds(ms), [this] { return FState->answer.has_value(); });
    return FState->answer;
}

std::string ResolveWithin(const std::string& host, int ms)
{
    const auto pending = TPendingText::Ask([host] {
        in_addr_t address = 0;
        if (!ResolveHost(host, address))
            return std::string();
        char text[INET_ADDRSTRLEN] = {};
        in_addr dotted { address };
        return std::string(inet_ntop(AF_INET, &dotted, text, sizeof text) != nullptr ? text : "");
    });
    if (!pending)
        return {};
    return pending->WaitFor(ms).value_or(std::string());
}
