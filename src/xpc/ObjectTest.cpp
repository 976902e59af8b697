#include "xpc/Object.h"

#include <gtest/gtest.h>

namespace xpc {
namespace {

// Reads answer only for the held type: int64 and uint64, strings and byte strings are distinct (the wire
// keeps them apart).
TEST(ObjectTest, ValuesKeepTheirExactTypeAndCopiesAreIndependent) {
    Object message = Object::dictionary();
    EXPECT_TRUE(message.set("type", Object::string("InsertText")));
    EXPECT_TRUE(message.set("data", Object::data(std::string_view("{}"))));
    EXPECT_EQ(*message.getString("type"), "InsertText");
    EXPECT_EQ(message.getString("data"), nullptr);
    EXPECT_EQ(message.getData("type"), nullptr);
    EXPECT_FALSE(Object::int64(3).asUint64());
    EXPECT_NE(Object::int64(3), Object::uint64(3));

    Object copy = message;
    copy.set("type", Object::string("Other"));
    EXPECT_EQ(*message.getString("type"), "InsertText");
}

// Descriptions go into log lines: escaped, and for long texts and large containers their length and a
// beginning of a few KiB, never the whole.
TEST(ObjectTest, DescriptionsAreReadableAndBounded) {
    Object message = Object::dictionary();
    message.set("type", Object::string("Start\"Monitor\n"));
    message.set("data", Object::data(std::string_view("{\"a\":1}")));
    message.set("n", Object::int64(-7));
    EXPECT_EQ(message.description(),
              "<dictionary: { count = 3, contents = \"data\" => <data: { length = 7 bytes, contents = "
              "0x7b2261223a317d }>, \"n\" => <int64: -7>, \"type\" => <string: { length = 14, contents = "
              "\"Start\\\"Monitor\\n\" }> }>");

    const std::string described = Object::string("\x01" + std::string(8 * 1024 * 1024, 'x')).description();
    EXPECT_LT(described.size(), 8u * 1024);
    EXPECT_EQ(described.rfind("<string: { length = 8388609, contents = \"\\x01xxx", 0), 0u);
    EXPECT_NE(described.find("x\"... }>"), std::string::npos);
    const std::string data = Object::data(std::string_view(std::string(100, 'x'))).description();
    EXPECT_NE(data.find("length = 100 bytes, contents = 0x7878"), std::string::npos);
    EXPECT_NE(data.find("... }>"), std::string::npos);
    Object many = Object::array();
    for (int i = 0; i < 65536; ++i) many.append(Object::string(std::string(100, 'y')));
    const std::string listed = many.description();
    EXPECT_LT(listed.size(), 32u * 1024);
    EXPECT_NE(listed.find("count = 65536"), std::string::npos);
    EXPECT_NE(listed.find(", ... }>"), std::string::npos);
}

}  // namespace
}  // namespace xpc
