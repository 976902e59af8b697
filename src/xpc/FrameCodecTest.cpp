#include "xpc/FrameCodec.h"

#include <gtest/gtest.h>

#include "xpc/FrameDecoder.h"

namespace xpc {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frameOf(const Bytes& body) {
    Bytes frame;
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

Object holding(Object value) {
    Object message = Object::dictionary();
    message.set("v", std::move(value));
    return message;
}

TEST(FrameCodecTest, EncodeRefusesWhatCannotTravel) {
    Object deep = Object::dictionary();
    for (int i = 0; i < 100; ++i) deep = holding(std::move(deep));
    // As many values as a receiver takes, and one more.
    EXPECT_TRUE(FrameCodec::encode(holding(Object::array(Object::Array(FrameCodec::kMaxElements - 2)))));
    const std::pair<Object, std::string> cases[] = {
        {Object::string("x"), "only a dictionary"},
        {holding(Object::error(ErrorCode::ConnectionInvalid)), "error object"},
        {holding(Object::data(Bytes(FrameCodec::kMaxBodySize, 0))), "more than the limit"},
        {deep, "deeper"},
        {holding(Object::array(Object::Array(FrameCodec::kMaxElements - 1))), "more than 65536 values"},
    };
    for (const auto& [message, expected] : cases) {
        std::string error;
        EXPECT_FALSE(FrameCodec::encode(message, &error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
}

// A body of `levels` nested containers: a map holding arrays of arrays, the innermost holding nil.
Bytes nested(std::size_t levels) {
    Bytes body = {0x81, 0xa1, 'a'};
    body.insert(body.end(), levels - 1, 0x91);
    body.push_back(0xc0);
    return body;
}

// Many one-byte values (empty maps) in one array: the value limit counts the containers too.
Bytes manyValues(std::uint32_t maps) {
    Bytes body = {0x81, 0xa1, 'a', 0xdd};
    for (int shift = 24; shift >= 0; shift -= 8) body.push_back(static_cast<std::uint8_t>(maps >> shift));
    body.insert(body.end(), maps, 0x80);
    return body;
}

// Fed byte by byte after a good frame, which survives what follows.
TEST(FrameCodecTest, BadStreamsGiveClearFinalErrorsAfterTheGoodFramesBeforeThem) {
    struct Case {
        Bytes stream;
        std::string error;  // the whole error, or a part of it after "~"; empty when the stream is good
    };
    const Case cases[] = {
        // Over the limit: refused from the header alone.
        {{0x00, 0x80, 0x00, 0x01}, "frame of 8388609 bytes exceeds the limit of 8388608 bytes"},
        {{0x00, 0x00}, "truncated frame: the stream ended after 2 of 4 header bytes"},
        {{0x00, 0x00, 0x00, 0x05, 0x81}, "truncated frame: the stream ended after 1 of 5 body bytes"},
        {frameOf({0x93, 1, 2, 3}), "bad frame of 4 bytes: the frame is not a MessagePack map"},
        {frameOf({}), "bad frame of 0 bytes: the frame is empty, not a MessagePack map"},
        // A map with a non-string key, a map cut short inside the frame.
        {frameOf({0x81, 0x01, 0x02}), "~malformed MessagePack"},
        {frameOf({0x82, 0xa1, 'a', 0x01}), "~malformed MessagePack"},
        {frameOf({0x81, 0xa1, 'e', 0xd4, 0x01, 0x00}), "~extension type 1"},
        // Nesting and value count, each at its limit and one past it.
        {frameOf(nested(64)), ""},
        {frameOf(nested(65)), "~deeper than 64 levels"},
        {frameOf(nested(100000)), "~deeper than 64 levels"},
        {frameOf(manyValues(65534)), ""},
        {frameOf(manyValues(65535)), "~more than 65536 values"},
    };
    const Object good = holding(Object::string("ok"));
    const Bytes goodFrame = *FrameCodec::encode(good);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Bytes stream = goodFrame;
        stream.insert(stream.end(), c.stream.begin(), c.stream.end());
        FrameDecoder decoder;
        std::vector<Object> messages;
        auto status = FrameDecoder::Status::NeedMore;
        for (std::size_t i = 0; i < stream.size() && status != FrameDecoder::Status::Error; ++i) {
            decoder.append(&stream[i], 1);
            Object message;
            while ((status = decoder.next(message)) == FrameDecoder::Status::Message)
                messages.push_back(message);
        }
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages[0], good);
        EXPECT_EQ(messages.size(), c.error.empty() ? 2u : 1u);
        const std::string error =
            status == FrameDecoder::Status::Error ? decoder.error() : decoder.finish().value_or("");
        if (c.error.starts_with("~")) {
            EXPECT_NE(error.find(c.error.substr(1)), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
}

}  // namespace
}  // namespace xpc
