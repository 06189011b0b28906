// A port of the library opened on the terminal side of a SerialPeer, with the
// queue sizes of the acquisition engine (65000 receive, 25 transmit).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "serial/port.h"
#include "serial/win32_driver.h"
#include "support/serial_peer.h"

namespace serial_test {

class OpenPort : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_PEER(peer);
        PortSetQueueSizes(65000, 25);
        port = PortOpenMSWin32(peer.portIndex(), 9600, 'N', 8, 1);
        ASSERT_EQ(port->Status, PORT_OK);
        // Under wine the pairs serve every test: nothing of the last may stay.
        PortDrainInput(port);
        peer.ReadAvailable();
    }

    void TearDown() override {
        if (port != nullptr) {
            EXPECT_EQ(port->Close(port), PORT_OK);
        }
        PortSetQueueSizes(1050, 1050);
    }

    // Waits (10 s at most) until `count` bytes wait in the port's queue.
    bool AwaitInput(int32_t count) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (port->RxUsed(port) < count) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            PortWaitForInput(&port, 1, 100);
        }
        return true;
    }

    // Sends `bytes` from the instrument's side and waits until all arrived.
    void Deliver(const std::string& bytes) {
        peer.Write(bytes);
        ASSERT_TRUE(AwaitInput(static_cast<int32_t>(bytes.size())));
    }

    std::string ReadAll() {
        std::string out;
        char chunk[512];
        while (port->ReadBlock(port, chunk, sizeof chunk) == PORT_OK) {
            out.append(chunk, port->Count);
        }
        return out;
    }

    testing_support::SerialPeer peer;
    PortRecord* port = nullptr;
};

}  // namespace serial_test
