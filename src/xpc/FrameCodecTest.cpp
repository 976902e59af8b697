#include "xpc/FrameCodec.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "xpc/FrameDecoder.h"

namespace xpc {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes frameOf(const Bytes& body) {
    Bytes frame;
    frame.reserve(body.size() + 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

TEST(FrameCodecTest, WireFormatIsPlainMessagePackWithStrAndBin) {
    Object request = Object::dictionary();
    request.set("type", Object::string("InsertText"));
    request.set("data", Object::string("hi"));
    auto frame = FrameCodec::encode(request);
    ASSERT_TRUE(frame);
    Bytes body(frame->begin() + 4, frame->end());
    auto json = nlohmann::json::from_msgpack(body);
    EXPECT_EQ(json, (nlohmann::json{{"type", "InsertText"}, {"data", "hi"}}));

    // An answer as another implementation would write it: "data" as bin.
    nlohmann::json answer = {{"type", "IsPermissionGranted"}, {"data", nlohmann::json::binary({'{', '}'})}};
    auto decoded = FrameCodec::decodeBody(nlohmann::json::to_msgpack(answer));
    ASSERT_TRUE(decoded);
    ASSERT_NE(decoded->getData("data"), nullptr);
    EXPECT_EQ(*decoded->getData("data"), (Bytes{'{', '}'}));
}

TEST(FrameCodecTest, EncodeRefusesWhatCannotTravel) {
    std::string error;
    EXPECT_FALSE(FrameCodec::encode(Object::string("x"), &error));
    EXPECT_NE(error.find("only a dictionary"), std::string::npos);

    Object withError = Object::dictionary();
    withError.set("e", Object::error(ErrorCode::ConnectionInvalid));
    EXPECT_FALSE(FrameCodec::encode(withError, &error));
    EXPECT_NE(error.find("error object"), std::string::npos);

    Object huge = Object::dictionary();
    huge.set("data", Object::data(Bytes(FrameCodec::kMaxBodySize, 0)));
    EXPECT_FALSE(FrameCodec::encode(huge, &error));
    EXPECT_NE(error.find("more than the limit"), std::string::npos);

    Object deep = Object::dictionary();
    for (int i = 0; i < 100; ++i) {
        Object outer = Object::dictionary();
        outer.set("d", std::move(deep));
        deep = std::move(outer);
    }
    EXPECT_FALSE(FrameCodec::encode(deep, &error));
    EXPECT_NE(error.find("deeper"), std::string::npos);

    // As many values as a receiver takes, and one more.
    Object many = Object::dictionary();
    many.set("a", Object::array(Object::Array(FrameCodec::kMaxElements - 2)));
    EXPECT_TRUE(FrameCodec::encode(many, &error)) << error;
    many.set("b", Object::null());
    EXPECT_FALSE(FrameCodec::encode(many, &error));
    EXPECT_NE(error.find("more than 65536 values"), std::string::npos);
}

TEST(FrameCodecTest, DecoderSplitsAStreamFedByteByByte) {
    Bytes stream;
    for (int i = 0; i < 3; ++i) {
        Object message = Object::dictionary();
        message.set("i", Object::int64(i));
        auto frame = FrameCodec::encode(message);
        stream.insert(stream.end(), frame->begin(), frame->end());
    }
    FrameDecoder decoder;
    std::vector<std::int64_t> seen;
    for (std::uint8_t byte : stream) {
        decoder.append(&byte, 1);
        Object message;
        while (decoder.next(message) == FrameDecoder::Status::Message)
            seen.push_back(*message.get("i")->asInt64());
    }
    EXPECT_EQ(seen, (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_FALSE(decoder.finish());
    EXPECT_EQ(decoder.bufferedBytes(), 0u);
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

TEST(FrameCodecTest, BadStreamsGiveClearFinalErrorsAfterTheGoodFramesBeforeThem) {
    struct Case {
        Bytes stream;
        std::string error;  // the whole error, or a part of it after "~"; empty when the stream is good
    };
    const Case cases[] = {
        // Over the limit: refused from the header alone.
        {{0x00, 0x80, 0x00, 0x01}, "frame of 8388609 bytes exceeds the limit of 8388608 bytes"},
        {{0xff, 0xff, 0xff, 0xff}, "frame of 4294967295 bytes exceeds the limit of 8388608 bytes"},
        {{0x00, 0x00}, "truncated frame: the stream ended after 2 of 4 header bytes"},
        {{0x00, 0x00, 0x00, 0x05, 0x81}, "truncated frame: the stream ended after 1 of 5 body bytes"},
        {frameOf({0x93, 1, 2, 3}), "bad frame of 4 bytes: the frame is not a MessagePack map"},
        {frameOf({0xa1, 'x'}), "bad frame of 2 bytes: the frame is not a MessagePack map"},
        {frameOf({}), "bad frame of 0 bytes: the frame is empty, not a MessagePack map"},
        // Garbage, a map with a non-string key, trailing bytes, a map cut short inside the frame.
        {frameOf({0xc1}), "~malformed MessagePack"},
        {frameOf({0x81, 0x01, 0x02}), "~malformed MessagePack"},
        {frameOf({0x80, 0x00}), "~malformed MessagePack"},
        {frameOf({0x82, 0xa1, 'a', 0x01}), "~malformed MessagePack"},
        {frameOf({0x81, 0xa1, 'e', 0xd4, 0x01, 0x00}), "~extension type 1"},
        // Nesting and value count, each at its limit and one past it.
        {frameOf(nested(64)), ""},
        {frameOf(nested(65)), "~deeper than 64 levels"},
        {frameOf(nested(100000)), "~deeper than 64 levels"},
        {frameOf(manyValues(65534)), ""},
        {frameOf(manyValues(65535)), "~more than 65536 values"},
    };
    Object good = Object::dictionary();
    good.set("type", Object::string("ok"));
    const Bytes goodFrame = *FrameCodec::encode(good);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        // After a good frame, which survives what follows; once an error is reported, nothing more comes.
        FrameDecoder decoder;
        decoder.append(goodFrame.data(), goodFrame.size());
        decoder.append(c.stream.data(), c.stream.size());
        Object message;
        ASSERT_EQ(decoder.next(message), FrameDecoder::Status::Message);
        EXPECT_EQ(message, good);
        auto status = FrameDecoder::Status::Message;
        while ((status = decoder.next(message)) == FrameDecoder::Status::Message) {
        }
        std::string error = decoder.finish().value_or("");
        if (status == FrameDecoder::Status::Error) {
            EXPECT_EQ(error, "") << "the error was already reported";
            error = decoder.error();
            decoder.append(goodFrame.data(), goodFrame.size());
            EXPECT_EQ(decoder.next(message), FrameDecoder::Status::Error);
        }
        if (c.error.starts_with("~")) {
            EXPECT_NE(error.find(c.error.substr(1)), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, c.error);
        }
    }
}

}  // namespace
}  // namespace xpc
