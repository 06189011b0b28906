// When memory runs out the open hands out the shared FailurePort.
#include <gtest/gtest.h>

#include "serial/port.h"
#include "support/failing_new.h"

namespace {

using testing_support::FailNothrowAllocationAfter;
using testing_support::StopFailingAllocations;

void ExpectFailurePort(PortRecord* port) {
    EXPECT_EQ(port->Status, PORT_ERR_NO_MEMORY);
    EXPECT_EQ(port->PortIndex, -1);
    EXPECT_EQ(port->DriverType, -1);
    EXPECT_EQ(port->DriverData, nullptr);
    char buffer[4];
    EXPECT_EQ(port->ReadBlock(port, buffer, sizeof buffer), PORT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(port->WriteByte(port, 'x'), PORT_ERR_NOT_SUPPORTED);
    EXPECT_EQ(port->Status, PORT_ERR_NOT_SUPPORTED);
}

TEST(FailurePort, NoMemoryForThePortRecord) {
    FailNothrowAllocationAfter(0);
    PortRecord* port = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    StopFailingAllocations();
    ExpectFailurePort(port);
    EXPECT_EQ(port->Close(port), PORT_OK);  // unlinked, not freed: it is no heap record
}

TEST(FailurePort, NoMemoryForTheDriverDataReleasesThePortRecord) {
    FailNothrowAllocationAfter(1);
    PortRecord* port = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    StopFailingAllocations();
    ExpectFailurePort(port);
    EXPECT_EQ(port->Close(port), PORT_OK);
}

TEST(FailurePort, HandedOutTwiceItIsListedOnce) {
    FailNothrowAllocationAfter(0);
    PortRecord* first = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    FailNothrowAllocationAfter(0);
    PortRecord* second = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    StopFailingAllocations();
    EXPECT_EQ(first, second);
    ExpectFailurePort(second);
    PortRecord* failed = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    EXPECT_EQ(failed->Status, PORT_ERR_NO_UART);
    PortCloseAll();  // ends: no record is in the list twice
    PortRecord* again = PortOpenMSWin32(249, 9600, 'N', 8, 1);
    EXPECT_NE(again, first);
    EXPECT_EQ(again->Close(again), PORT_OK);
}

}  // namespace
