#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/fake_clock.h"
#include "support/open_port.h"
#ifndef _WIN32
#include "support/uart_writer.h"
#include "support/waiting_device.h"
#endif

namespace {

using serial_test::OpenPort;

using PortIo = OpenPort;

TEST_F(PortIo, ReadBlockCountsWhatWaitsAndLeavesStatusAlone) {
    char buffer[100];
    port->Status = PORT_ERR_TX_INCOMPLETE;
    EXPECT_EQ(port->ReadBlock(port, buffer, sizeof buffer), PORT_ERR_NO_DATA);
    EXPECT_EQ(port->Count, 0u);
    EXPECT_EQ(port->Status, PORT_ERR_TX_INCOMPLETE);
    port->ClearStatus(port);

    Deliver("0123456789");
    EXPECT_EQ(port->RxUsed(port), 10);
    EXPECT_EQ(port->RxFree(port), 64990);
    EXPECT_EQ(port->ReadBlock(port, buffer, 0), PORT_OK);
    EXPECT_EQ(port->Count, 0u);
    EXPECT_EQ(port->ReadBlock(port, buffer, 4), PORT_OK);
    EXPECT_EQ(std::string(buffer, port->Count), "0123");
    EXPECT_EQ(port->ReadBlock(port, buffer, sizeof buffer), PORT_OK);
    EXPECT_EQ(std::string(buffer, port->Count), "456789");
    EXPECT_EQ(port->ReadBlock(port, buffer, sizeof buffer), PORT_ERR_NO_DATA);
    EXPECT_EQ(port->Status, PORT_OK);
}

TEST_F(PortIo, SingleBytesComeBackUnsignedAndNoneIsLostByProbing) {
    Deliver(std::string("\xff\x00\x41", 3));
    EXPECT_EQ(port->ProbeByte(port), 0xFF);
    EXPECT_EQ(port->ReadByte(port), 0x00);
    EXPECT_EQ(port->ReadByte(port), 0x41);
    EXPECT_EQ(port->ReadByte(port), PORT_ERR_NO_DATA);
    EXPECT_EQ(port->ProbeByte(port), PORT_ERR_NO_DATA);
    EXPECT_EQ(port->Status, PORT_OK);
}

TEST_F(PortIo, WriteBlockQueuesNoMoreThanTheTransmitQueueTakes) {
    const std::string thirty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    EXPECT_EQ(port->TxFree(port), 25);
    EXPECT_EQ(port->WriteBlock(port, thirty.data(), 30), PORT_ERR_TX_INCOMPLETE);
    EXPECT_EQ(port->Count, 25u);
    EXPECT_EQ(port->Status, PORT_ERR_TX_INCOMPLETE);
    EXPECT_EQ(peer.ReadExactly(25), thirty.substr(0, 25));

    port->ClearStatus(port);
    EXPECT_EQ(port->WriteByte(port, 0x100 | 'z'), PORT_OK);  // only the low 8 bits go out
    EXPECT_EQ(port->WriteBlock(port, "ok", 2), PORT_OK);
    EXPECT_EQ(port->Count, 2u);
    EXPECT_EQ(peer.ReadExactly(3), "zok");
    EXPECT_EQ(port->PurgeTx(port), PORT_OK);
    EXPECT_EQ(port->Status, PORT_OK);
}

TEST_F(PortIo, DrainInputDiscardsEverythingReceived) {
    Deliver(std::string(1000, 'x'));
    EXPECT_EQ(PortDrainInput(port), PORT_OK);
    EXPECT_EQ(port->RxUsed(port), 0);
    Deliver("after");
    EXPECT_EQ(ReadAll(), "after");
}

// A reader that keeps up with an instrument writing as fast as the line
// takes bytes receives every byte once, in order.
TEST_F(PortIo, EveryByteArrivesOnceInOrder) {
    std::string sent;
    for (int i = 0; sent.size() < 200000; ++i) {
        sent += std::to_string(i) + ',';
    }
    std::string received;
    size_t offered = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (received.size() < sent.size() && std::chrono::steady_clock::now() < limit) {
        if (offered < sent.size()) {
            offered += peer.WriteSome(sent.data() + offered,
                                      std::min<size_t>(sent.size() - offered, 4096));
        }
        PortWaitForInput(&port, 1, 10);
        char chunk[700];
        while (port->ReadBlock(port, chunk, sizeof chunk) == PORT_OK) {
            received.append(chunk, port->Count);
        }
    }
    ASSERT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    int64_t lost = 0;
    EXPECT_EQ(PortTakeOverflow(port, &lost), 0);
}

#ifndef _WIN32
// An instrument on a UART without flow control writes at its line's rate to
// a caller that reads nothing: once the queue is full the device is no longer
// read, the kernel's buffer fills and the line refuses the rest (the UART's
// own loss, counted by the writer). The port loses none of what the line took
// and reports no overflow, only that the device waited. (Windows keeps its
// queue in the driver.)
TEST_F(PortIo, AFullQueueLosesNothingTheLineTook) {
    // A small queue, so that the line fills in a second.
    ASSERT_EQ(port->Close(port), PORT_OK);
    PortSetQueueSizes(4096, 25);
    port = PortOpenMSWin32(peer.portIndex(), 256000, 'N', 8, 1);
    ASSERT_EQ(port->Status, PORT_OK);
    std::string sent;
    for (int i = 0; sent.size() < 40000; ++i) {
        sent += std::to_string(i) + ',';
    }
    testing_support::UartWriter writer(peer.masterFd(), sent, 25600);
    writer.Start();
    writer.Finish();
    ASSERT_GT(writer.refused(), 0) << "more than the queue and the kernel hold";
    ASSERT_TRUE(testing_support::AwaitAWaitingDevice());

    std::string received;
    char chunk[4096];
    for (;;) {
        const int result = port->ReadBlock(port, chunk, sizeof chunk);
        received.append(chunk, result == PORT_OK ? port->Count : 0);
        if (result != PORT_OK && (received.size() == writer.Accepted().size() ||
                                  PortWaitForInput(&port, 1, 30000) == 0)) {
            break;
        }
    }
    EXPECT_TRUE(received == writer.Accepted());
    EXPECT_EQ(static_cast<int64_t>(received.size()) + writer.refused(),
              static_cast<int64_t>(sent.size()));
    int64_t lost = 0;
    EXPECT_EQ(PortTakeOverflow(port, &lost), 0);
    EXPECT_EQ(lost, 0);
    EXPECT_GT(PortTakePausedMs(port), 0);
}
#endif

TEST_F(PortIo, WaitForInputReturnsWhenAPortHasInputOrTheTimeIsUp) {
    PortRecord* ports[] = {nullptr, port};
    EXPECT_EQ(PortWaitForInput(ports, 2, 5), 0);
    peer.Write("x");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int ready = 0;
    while (ready == 0 && std::chrono::steady_clock::now() < limit) {
        ready = PortWaitForInput(ports, 2, 1000);
    }
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(port->RxUsed(port), 1);
}

// A line as PortReadString cuts it from the bytes that arrived.
struct LineCase {
    const char* name;
    std::string input;
    uint32_t size;
    int terminator;
    std::string line;
    int result;
    std::string left;  // what stays in the queue
};

TEST_F(PortIo, ReadStringCutsLinesAtTheirTerminator) {
    const LineCase cases[] = {
        {"CR ends the line, the rest stays", "abc\rxyz", 100, 13, "abc", PORT_OK, "xyz"},
        {"CR LF ends the line", "ab\r\nz", 100, -1, "ab", PORT_OK, "z"},
        {"-2 is -1", "ab\r\n", 100, -2, "ab", PORT_OK, ""},
        {"a lone CR is kept", "a\rb\r\n", 100, -1, "a\rb", PORT_OK, ""},
        {"CR CR LF keeps one CR", "a\r\r\n", 100, -1, "a\r", PORT_OK, ""},
        {"LF stores the CR before it", "ab\r\n", 100, 10, "ab\r", PORT_OK, ""},
        {"any byte ends it", "12;34", 100, ';', "12", PORT_OK, "34"},
        {"NUL bytes are data", std::string("a\0b\r", 4), 100, 13, std::string("a\0b", 3), PORT_OK,
         ""},
        {"full buffer", "abcde\r", 4, 13, "abc", PORT_ERR_BUFFER_FULL, "e\r"},
        {"full buffer at a held CR", "abc\rd", 4, 10, "abc", PORT_ERR_BUFFER_FULL, ""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        port->ClearStatus(port);
        Deliver(c.input);
        char buffer[100];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(PortReadString(port, buffer, c.size, c.terminator, 5000), c.result);
        EXPECT_EQ(port->Count, c.line.size());
        EXPECT_EQ(std::string(buffer, port->Count), c.line);
        EXPECT_EQ(buffer[port->Count], '\0');
        EXPECT_EQ(port->Status, c.result);
        EXPECT_EQ(ReadAll(), c.left);
    }
}

TEST_F(PortIo, ReadStringRefusesBadArgumentsWithoutTouchingTheBuffer) {
    const struct {
        uint32_t size;
        int terminator;
    } cases[] = {{1, 13}, {0, 13}, {100, 256}, {100, -3}};
    for (const auto& c : cases) {
        char buffer[8] = "keepme";
        port->ClearStatus(port);
        EXPECT_EQ(PortReadString(port, buffer, c.size, c.terminator, 10), PORT_ERR_BAD_ARGUMENT);
        EXPECT_STREQ(buffer, "keepme");
        EXPECT_EQ(port->Status, PORT_ERR_BAD_ARGUMENT);
    }
}

TEST_F(PortIo, ReadStringReturnsTheStickyStatusOfEarlierFailures) {
    port->Status = PORT_ERR_TX_INCOMPLETE;  // as a WriteByte that found the queue full leaves it
    Deliver("line\r");
    char buffer[32];
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 5000), PORT_ERR_TX_INCOMPLETE);
    EXPECT_STREQ(buffer, "line");
    port->ClearStatus(port);
    Deliver("next\r");
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 5000), PORT_OK);
    EXPECT_STREQ(buffer, "next");
}

// Time-outs run on a fake clock that moves on at every reading of the tick.
class ReadStringTimeout : public OpenPort {
protected:
    platform::FakeClock clock{platform::FakeClock::EpochMs(2024, 5, 1, 12)};
};

TEST_F(ReadStringTimeout, NothingArrivingGivesAnEmptyLineAfterTheTimeout) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(100);
    const int64_t start = clock.EpochMsNow();
    char buffer[16] = "old";
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 5000), PORT_ERR_NO_DATA);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(port->Count, 0u);
    EXPECT_EQ(port->Status, PORT_OK);
    EXPECT_GE(clock.EpochMsNow() - start, 5000);
    EXPECT_LE(clock.EpochMsNow() - start, 5300);
}

TEST_F(ReadStringTimeout, TimeoutZeroEndsAtTheFirstMomentNothingWaits) {
    platform::ClockScope scope(clock);  // standing still: only a zero time-out can end
    char buffer[16];
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 0), PORT_ERR_NO_DATA);
    EXPECT_EQ(port->Count, 0u);
    Deliver("ab");
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 0), PORT_ERR_NO_DATA);
    EXPECT_STREQ(buffer, "ab");
}

TEST_F(ReadStringTimeout, AHeldBackCrIsKeptOrDroppedByTheTerminator) {
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(100);
    char buffer[16];
    Deliver("ab\r");
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 10, 1000), PORT_ERR_NO_DATA);
    EXPECT_STREQ(buffer, "ab\r");
    Deliver("ab\r");
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, -1, 1000), PORT_ERR_NO_DATA);
    EXPECT_STREQ(buffer, "ab");
}

TEST_F(ReadStringTimeout, TheDeadlineHoldsWhereTheTickCountPassesTwoToThe31) {
    clock.SetEpochMs(int64_t{0x17FFFFF00});  // tick count 0x7FFFFF00
    platform::ClockScope scope(clock);
    clock.SetAutoAdvanceMs(50);
    const int64_t start = clock.EpochMsNow();
    char buffer[16];
    EXPECT_EQ(PortReadString(port, buffer, sizeof buffer, 13, 5000), PORT_ERR_NO_DATA);
    EXPECT_GE(clock.EpochMsNow() - start, 5000);
}

int g_hookCalls = 0;
int StopOnThirdCall(PortRecord* /*port*/) {
    return ++g_hookCalls >= 3 ? -50 : 0;
}

TEST_F(ReadStringTimeout, ANegativeIdleHookEndsTheWait) {
    g_hookCalls = 0;
    PortSetIdleHook(StopOnThirdCall);
    char buffer[16];
    Deliver("pa");
    const int result = PortReadString(port, buffer, sizeof buffer, 13, -1);
    PortSetIdleHook(PumpMessages);
    EXPECT_EQ(result, -50);
    EXPECT_EQ(g_hookCalls, 3);
    EXPECT_STREQ(buffer, "pa");
    EXPECT_EQ(port->Status, PORT_OK);
}

TEST_F(ReadStringTimeout, PortWaitRunsOnTheTickCount) {
    platform::ClockScope scope(clock);
    EXPECT_EQ(PortWait(port, 0), PORT_OK);  // the clock stands still: no wait at all
    clock.SetAutoAdvanceMs(10);
    const int64_t start = clock.EpochMsNow();
    EXPECT_EQ(PortWait(port, 250), PORT_OK);
    EXPECT_GE(clock.EpochMsNow() - start, 250);
    g_hookCalls = 0;
    PortSetIdleHook(StopOnThirdCall);
    const int result = PortWait(port, 100000);
    PortSetIdleHook(PumpMessages);
    EXPECT_EQ(result, -50);
}

}  // namespace
