#pragma once
// A test fixture that runs in a private network of AmpCount amplifier addresses, skipped with the
// reason where no such network can be made. A fixture that adds to SetUp calls this one first and
// returns when IsSkipped() or HasFatalFailure().

#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <memory>

template <int AmpCount> class PrivateNetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (auto reason = TestNetwork::Unavailable(); !reason.empty())
            GTEST_SKIP() << reason;
        net = std::make_unique<TestNetwork>(AmpCount);
        ASSERT_TRUE(net->Up()) << net->Error();
    }

    std::unique_ptr<TestNetwork> net;
};
