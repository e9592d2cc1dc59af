// One gateway in front of one simulator for every test of a suite (starting
// them and the first full read cost more than most tests). A suite names
// its token, or none, with a static token().
#pragma once

#include "gateway/http_client.h"

#include <gtest/gtest.h>

namespace tk770::testing {

template <typename Suite>
class WebSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gateway = new GatewayPair;
        if (GatewayPair::available() && !gateway->start({}, Suite::token()))
            ADD_FAILURE() << gateway->error().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete gateway;
        gateway = nullptr;
    }
    void SetUp() override
    {
        if (!gateway || gateway->listener("http").isEmpty())
            GTEST_SKIP() << "gateway or simulator not built, or not started";
    }
    static QString base() { return "http://" + gateway->listener("http"); }
    static QString wsUrl() { return "ws://" + gateway->listener("http") + "/ws"; }

    static inline GatewayPair* gateway = nullptr;
};

}  // namespace tk770::testing
