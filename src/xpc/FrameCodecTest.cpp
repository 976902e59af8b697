#include "xpc/FrameCodec.h"

#include <gtest/gtest.h>

#include <limits>

#include <nlohmann/json.hpp>

#include "xpc/FrameDecoder.h"

namespace xpc {
namespace {

using Bytes = std::vector<std::uint8_t>;

Object everyKind() {
    Object nested = Object::dictionary();
    nested.set("inner", Object::string("x"));
    Object message = Object::dictionary();
    message.set("type", Object::string("InsertText"));
    message.set("data", Object::data(Bytes{0, 1, 2, 0xff}));
    message.set("empty", Object::string(""));
    message.set("long", Object::string(std::string(70000, 'l')));
    message.set("bytes", Object::data(Bytes(300, 7)));
    message.set("null", Object::null());
    message.set("yes", Object::boolean(true));
    message.set("no", Object::boolean(false));
    message.set("smallSigned", Object::int64(5));
    message.set("negative", Object::int64(-1));
    message.set("minSigned", Object::int64(std::numeric_limits<std::int64_t>::min()));
    message.set("maxSigned", Object::int64(std::numeric_limits<std::int64_t>::max()));
    message.set("smallUnsigned", Object::uint64(5));
    message.set("maxUnsigned", Object::uint64(std::numeric_limits<std::uint64_t>::max()));
    message.set("double", Object::real(-2.5e300));
    message.set("array", Object::array({Object::int64(300), Object::string("s"), nested}));
    message.set("nested", nested);
    return message;
}

Bytes frameOf(const Bytes& body) {
    Bytes frame;
    frame.reserve(body.size() + 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        frame.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

std::string decodeError(const Bytes& stream) {
    FrameDecoder decoder;
    decoder.append(stream.data(), stream.size());
    Object message;
    while (true) {
        auto status = decoder.next(message);
        if (status == FrameDecoder::Status::Error) return decoder.error();
        if (status == FrameDecoder::Status::NeedMore) return decoder.finish().value_or("");
    }
}

TEST(FrameCodecTest, EveryKindRoundTripsWithItsExactType) {
    Object message = everyKind();
    std::string error;
    auto frame = FrameCodec::encode(message, &error);
    ASSERT_TRUE(frame) << error;
    EXPECT_EQ(FrameCodec::bodyLength(frame->data()), frame->size() - FrameCodec::kHeaderSize);
    auto decoded = FrameCodec::decodeBody(std::span(*frame).subspan(FrameCodec::kHeaderSize), &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(*decoded, message);
    EXPECT_TRUE(decoded->get("smallSigned")->asInt64());
    EXPECT_TRUE(decoded->get("smallUnsigned")->asUint64());
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

TEST(FrameCodecTest, BadStreamsGiveClearErrors) {
    // Over the limit: refused from the header alone.
    EXPECT_EQ(decodeError({0x00, 0x80, 0x00, 0x01}),
              "frame of 8388609 bytes exceeds the limit of 8388608 bytes");
    EXPECT_EQ(decodeError({0xff, 0xff, 0xff, 0xff}),
              "frame of 4294967295 bytes exceeds the limit of 8388608 bytes");
    // Truncated header and body.
    EXPECT_EQ(decodeError({0x00, 0x00}), "truncated frame: the stream ended after 2 of 4 header bytes");
    EXPECT_EQ(decodeError({0x00, 0x00, 0x00, 0x05, 0x81}),
              "truncated frame: the stream ended after 1 of 5 body bytes");
    // Not a map.
    EXPECT_EQ(decodeError(frameOf({0x93, 1, 2, 3})),
              "bad frame of 4 bytes: the frame is not a MessagePack map");
    EXPECT_EQ(decodeError(frameOf({0xa1, 'x'})), "bad frame of 2 bytes: the frame is not a MessagePack map");
    EXPECT_EQ(decodeError(frameOf({})), "bad frame of 0 bytes: the frame is empty, not a MessagePack map");
    // Garbage, a map with a non-string key, trailing bytes, a map cut short inside the frame.
    EXPECT_NE(decodeError(frameOf({0xc1})).find("malformed MessagePack"), std::string::npos);
    EXPECT_NE(decodeError(frameOf({0x81, 0x01, 0x02})).find("malformed MessagePack"), std::string::npos);
    EXPECT_NE(decodeError(frameOf({0x80, 0x00})).find("malformed MessagePack"), std::string::npos);
    EXPECT_NE(decodeError(frameOf({0x82, 0xa1, 'a', 0x01})).find("malformed MessagePack"), std::string::npos);
    // Extension types and hostile nesting.
    EXPECT_NE(decodeError(frameOf({0x81, 0xa1, 'e', 0xd4, 0x01, 0x00})).find("extension type 1"),
              std::string::npos);
    Bytes deep = {0x81, 0xa1, 'a'};
    deep.insert(deep.end(), 100000, 0x91);
    deep.push_back(0xc0);
    EXPECT_NE(decodeError(frameOf(deep)).find("deeper than 64 levels"), std::string::npos);
    // Many one-byte values (empty maps): refused past the value limit, which counts the containers too.
    for (const std::uint32_t maps : {65534u, 65535u}) {
        SCOPED_TRACE(maps);
        Bytes many = {0x81, 0xa1, 'a', 0xdd};
        for (int shift = 24; shift >= 0; shift -= 8) many.push_back(static_cast<std::uint8_t>(maps >> shift));
        many.insert(many.end(), maps, 0x80);
        const std::string error = decodeError(frameOf(many));
        EXPECT_EQ(error.find("more than 65536 values") != std::string::npos, maps == 65535u) << error;
    }
}

TEST(FrameCodecTest, ErrorsAreFinalAndEarlierMessagesSurvive) {
    Object good = Object::dictionary();
    good.set("type", Object::string("ok"));
    Bytes stream = *FrameCodec::encode(good);
    Bytes bad = frameOf({0x90});
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), stream.begin(),
                  stream.begin() + static_cast<long>(FrameCodec::encode(good)->size()));

    FrameDecoder decoder;
    decoder.append(stream.data(), stream.size());
    Object message;
    ASSERT_EQ(decoder.next(message), FrameDecoder::Status::Message);
    EXPECT_EQ(message, good);
    EXPECT_EQ(decoder.next(message), FrameDecoder::Status::Error);
    EXPECT_EQ(decoder.next(message), FrameDecoder::Status::Error) << "no message after an error";
    EXPECT_FALSE(decoder.finish()) << "the error was already reported";
}

}  // namespace
}  // namespace xpc
