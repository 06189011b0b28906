// The hygrometer exchange when its buffers cannot be had.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "instruments/ophir.h"
#include "support/failing_new.h"
#include "support/temp_dir.h"

namespace {

TEST(OphirMemory, NoBufferMeansEntry25AndNothingElse) {
    for (int successes = 0; successes < 3; ++successes) {
        SCOPED_TRACE(successes);
        testing_support::TempDir dir;
        // A record without a device: anything sent through it would leave -24 in Status.
        PortRecord* port = PortOpenMSWin32(249, 9600, 'N', 8, 1);
        port->ClearStatus(port);
        char header[1000] = "kept";
        platform::SystemTime time{};
        time.wYear = 1999;
        testing_support::FailNothrowAllocationAfter(successes);
        GetOphirConstants(port, dir.path().c_str(), 3, header, &time);
        testing_support::StopFailingAllocations();
        EXPECT_EQ(port->Status, PORT_OK) << "nothing may be sent";
        EXPECT_STREQ(header, "kept");
        EXPECT_EQ(time.wYear, 1999);
        std::string log;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            log += testing_support::ReadFile(entry.path().string());
        }
        EXPECT_NE(log.find("  25  Memory Allocation Error in GetOphirConstants."),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("  26  "), std::string::npos);
        EXPECT_EQ(port->Close(port), PORT_OK);
    }
}

}  // namespace
