#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

namespace {

using json_text::JsonStringLiteral;

TEST(JsonStringLiteral, KeepsValidUtf8AndEscapesWhatJsonRequires) {
    EXPECT_EQ(JsonStringLiteral("plain"), R"("plain")");
    EXPECT_EQ(JsonStringLiteral("q\"b\\s/"), R"("q\"b\\s/")");
    EXPECT_EQ(JsonStringLiteral("\n\r\t\b\f\x01\x1f\x7f"), R"("\n\r\t\b\f\u0001\u001f\u007f")");
    EXPECT_EQ(JsonStringLiteral(std::string("a\0b", 3)), R"("a\u0000b")");
    // Two-, three- and four-byte characters, including the highest code point.
    const std::string valid = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf";
    EXPECT_EQ(JsonStringLiteral(valid), "\"" + valid + "\"");
    EXPECT_EQ(nlohmann::json::parse(JsonStringLiteral(valid)).get<std::string>(), valid);
}

TEST(JsonStringLiteral, EscapesEveryByteThatIsNotValidUtf8) {
    struct Case {
        std::string bytes, literal;
    };
    const Case cases[] = {
        {"\xe9t\xe9", R"("\udce9t\udce9")"},                    // Latin-1 text
        {"\x80\xbf", R"("\udc80\udcbf")"},                      // stray continuation bytes
        {"\xc0\xaf", R"("\udcc0\udcaf")"},                      // overlong "/"
        {"\xed\xa0\x80", R"("\udced\udca0\udc80")"},            // encoded surrogate
        {"\xf4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // above U+10FFFF
        {"ab\xe2\x82", R"("ab\udce2\udc82")"},                  // cut off at the end
        {"\xe2\x82z\xc3\xa9", "\"\\udce2\\udc82z\xc3\xa9\""},   // cut off, then valid
        {"\xff\xfe", R"("\udcff\udcfe")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JsonStringLiteral(c.bytes), c.literal);
    }
    // Every high byte on its own.
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "\"\\udc%02x\"", byte);
        EXPECT_EQ(JsonStringLiteral(std::string(1, static_cast<char>(byte))), expected);
    }
}

TEST(JsonWriter, WritesNestedObjectsAndArraysThatParseBack) {
    std::ostringstream out;
    json_text::JsonWriter json(out);
    json.BeginObject();
    json.Key("n");
    json.Int(-7);
    json.Key("list");
    json.BeginArray();
    json.Double(0.1);
    json.Double(-1e300);
    json.Double(std::nan(""));
    json.EndArray();
    json.Key("empty");
    json.BeginArray();
    json.EndArray();
    json.Key("objects");
    json.BeginArray(true);
    json.BeginObject();
    json.Key("s");
    json.String("x");
    json.Key("z");
    json.Null();
    json.EndObject();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.EndObject();

    const nlohmann::json parsed = nlohmann::json::parse(out.str());
    EXPECT_EQ(parsed["n"], -7);
    EXPECT_EQ(parsed["list"][0].get<double>(), 0.1);  // shortest form reads back exactly
    EXPECT_EQ(parsed["list"][1].get<double>(), -1e300);
    EXPECT_TRUE(parsed["list"][2].is_null());  // JSON has no NaN
    EXPECT_TRUE(parsed["empty"].empty());
    EXPECT_EQ(parsed["objects"][0]["s"], "x");
    EXPECT_TRUE(parsed["objects"][0]["z"].is_null());
    EXPECT_TRUE(parsed["objects"][1].empty());
    EXPECT_EQ(out.str().substr(0, 21), "{\n  \"n\": -7,\n  \"list\"");
}

}  // namespace
