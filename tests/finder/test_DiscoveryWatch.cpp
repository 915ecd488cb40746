#include "finder/DiscoveryWatch.h"

#include <gtest/gtest.h>

namespace {

using Action = TDiscoveryWatch::Action;
const TDiscoveryInterface Usb { "usb0", 7 };
const TDiscoveryInterface UsbReplugged { "usb0", 9 };
const TDiscoveryInterface Other { "eth1", 7 };

TEST(DiscoveryWatch, StopsWhenTheInterfaceGoesAndRestartsWhenTheSameNameCarriesTheAddressAgain)
{
    struct Step {
        std::optional<TDiscoveryInterface> now;
        Action expected;
        const char* status;
    };
    const Step steps[] = {
        { Usb, Action::None, "" },
        { std::nullopt, Action::Stop, "Discovery stopped: the interface usb0 (198.18.0.1) is gone." },
        { std::nullopt, Action::None, "Discovery stopped: the interface usb0 (198.18.0.1) is gone." },
        { Other, Action::None, "Discovery stopped: the interface usb0 (198.18.0.1) is gone." },
        { UsbReplugged, Action::Restart, "Discovery stopped: the interface usb0 (198.18.0.1) is gone." },
    };
    TDiscoveryWatch watch;
    EXPECT_EQ(watch.Tick(Usb), Action::None) << "nothing started yet";
    watch.Started("198.18.0.1", Usb);
    for (const auto& step : steps) {
        EXPECT_EQ(watch.Tick(step.now), step.expected) << step.status;
        EXPECT_EQ(watch.StatusText(), step.status);
    }
    watch.Started("198.18.0.1", UsbReplugged);
    EXPECT_EQ(watch.StatusText(), "Discovery runs again on usb0 (198.18.0.1).");
    EXPECT_EQ(watch.Tick(UsbReplugged), Action::None);
    // Replugged again under the same name but a new index: the old socket is dead.
    EXPECT_EQ(watch.Tick(Usb), Action::Stop);
}

TEST(DiscoveryWatch, AWorkerThatEndsIsRestartedAndAFailedRestartIsTriedAgain)
{
    TDiscoveryWatch watch;
    watch.Started("", std::nullopt); // any address: no interface to follow
    EXPECT_EQ(watch.Tick(std::nullopt), Action::None);
    watch.WorkerEnded();
    EXPECT_EQ(watch.Tick(std::nullopt), Action::Stop);
    EXPECT_EQ(watch.StatusText(), "Discovery stopped: the receive channel on any address failed.");
    EXPECT_EQ(watch.Tick(std::nullopt), Action::Restart);
    watch.RestartFailed("bind() failed: Address in use");
    EXPECT_EQ(watch.StatusText(), "Discovery stopped: bind() failed: Address in use");
    EXPECT_TRUE(watch.Stopped());
    EXPECT_EQ(watch.Tick(std::nullopt), Action::Restart);
    watch.Started("", std::nullopt);
    EXPECT_FALSE(watch.Stopped());
    EXPECT_EQ(watch.Tick(std::nullopt), Action::None);
}

} // namespace
