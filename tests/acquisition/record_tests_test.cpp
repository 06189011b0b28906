#include "instruments/record_tests.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(IsPrintableRecord, PrintableRangeAndLineEndsPassEverythingElseFails) {
    EXPECT_EQ(IsPrintableRecord(""), 1);
    EXPECT_EQ(IsPrintableRecord("12.3 45.6\r\n"), 1);
    EXPECT_EQ(IsPrintableRecord(" ~!azAZ09"), 1);
    EXPECT_EQ(IsPrintableRecord("12\t3"), 0);
    EXPECT_EQ(IsPrintableRecord("12\xB0"), 0);
    EXPECT_EQ(IsPrintableRecord("\x7F"), 0);
    EXPECT_EQ(IsPrintableRecord("\x1F"), 0);
    // every single byte: only 10, 13 and 32..126 pass
    for (int c = 1; c < 256; ++c) {
        const char text[2] = {static_cast<char>(c), 0};
        EXPECT_EQ(IsPrintableRecord(text), (c >= 32 && c <= 126) || c == 10 || c == 13) << c;
    }
}

TEST(BlankOutLetters, OnlyAsciiLettersBecomeBlanks) {
    char text[] = "T=12.5C";
    BlankOutLetters(text);
    EXPECT_STREQ(text, " =12.5 ");
    char mixed[] = "aZ@[`{09\xE9";
    BlankOutLetters(mixed);
    EXPECT_STREQ(mixed, "  @[`{09\xE9");
}

TEST(IsNumericToken, SignsAndPointAnywhereAtMostOnceEach) {
    for (const char* yes : {"", "12.5-", "+ 3", "-.5", "+-1", "0123456789", " ", "+.-"}) {
        EXPECT_EQ(IsNumericToken(yes), 1) << '"' << yes << '"';
    }
    for (const char* no : {"1.2.3", "--4", "1e5", "3,5", "1..2", "++", "1\t2", "x"}) {
        EXPECT_EQ(IsNumericToken(no), 0) << '"' << no << '"';
    }
}

}  // namespace
