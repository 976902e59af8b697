#include "helper/XpcService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "helper/internal/SimDesktopTestSupport.h"
#include "xpc/internal/ChannelTestSupport.h"

namespace {

using namespace std::chrono_literals;
using helper::testing::textItem;
using nlohmann::json;
using xpc::Object;
using xpc::testing::Client;
using xpc::testing::runUntil;
using xpc::testing::settle;

// The JSON in a message's "data" byte string, which repeats the message's "type".
json content(const Object& message, const std::string& kind) {
    const std::string* type = message.getString("type");
    const Object::Bytes* data = message.getData("data");
    EXPECT_TRUE(type && *type == kind && data) << message.description();
    if (data == nullptr) return {};
    const json parsed = json::parse(data->begin(), data->end());
    EXPECT_EQ(parsed.at("type"), kind);
    return parsed;
}

class XpcServiceTest : public helper::testing::SimDesktopTest {
  protected:
    void SetUp() override {
        SimDesktopTest::SetUp();
        service_ = std::make_unique<XpcService>(monitor_, pasteboardHelper_, sim_.mainScheduler());
        ASSERT_TRUE(service_->startWithServiceName(XpcService::kServiceName));
    }
    void TearDown() override {
        for (auto& client : clients_) client.connection->cancel();
        settle(20ms);
        service_.reset();
        settle(20ms);
        SimDesktopTest::TearDown();
    }

    Client& connect() { return clients_.emplace_back(XpcService::kServiceName); }
    static Object insertText(const std::string& text) {
        Object message = xpc::testing::message("InsertText");
        message.set("data", Object::string(text));
        return message;
    }

    xpc::testing::RuntimeDirectory runtime_;
    std::unique_ptr<XpcService> service_;
    std::deque<Client> clients_;
};

TEST_F(XpcServiceTest, RequestsAreLoggedAndInsertTextPastesBeforeItAnswersAfterLaterRequests) {
    select("caf\xc3");  // cut in the middle of a character
    sim_.pasteboard().copyFromOtherApplication({textItem("user's"), textItem("second")});
    Client& client = connect();
    ASSERT_TRUE(client.ask("StartMonitor", 1));
    EXPECT_EQ(content(client.received()[0], "StartMonitor")["result"], true);
    // The InsertText answer waits for its paste; the later requests' answers do not wait for it. A long text
    // is pasted whole but logged only by its start and length.
    const std::string inserted = "inserted" + std::string(1 << 20, 'x');
    client.send(insertText(inserted));
    for (const char* type : {"IsPermissionGranted", "MouseLocation", "SelectedText"}) client.send(type);
    ASSERT_TRUE(client.waitFor(4));
    EXPECT_EQ(content(client.received()[3], "SelectedText")["content"], "caf\xef\xbf\xbd");
    // The prompt only for StartMonitor.
    EXPECT_EQ(sim_.trustChecks(), (std::vector<bool>{true, false, false}));

    // InsertText: the text is on the pasteboard at once, the paste 50 ms later, then the answer.
    ASSERT_TRUE(runUntil([&] { return sim_.pasteboard().firstString() == inserted; }));
    settle(20ms);
    EXPECT_EQ(client.messages(), 4u);
    sim_.scheduler().advance(49ms);
    EXPECT_TRUE(sim_.postedKeyEvents().empty());
    sim_.scheduler().advance(1ms);
    EXPECT_EQ(sim_.postedKeyEvents().size(), 2u);
    ASSERT_TRUE(client.waitFor(5));
    EXPECT_EQ(content(client.received()[4], "InsertText")["result"], true);
    // It replaces everything and stays there.
    EXPECT_EQ(sim_.pasteboard().snapshot(), std::vector<platform::PasteboardItem>{textItem(inserted)});

    const std::string pasteLine = "[INFO] Simulate paste key event: " + inserted.substr(0, 4096) + "... (" +
                                  std::to_string(inserted.size()) + " bytes)";
    for (const std::string& line : {std::string("[INFO] Reply Start request: "),
                                    std::string("[INFO] Reply IsPermissionGranted request: "),
                                    std::string("[INFO] Reply MouseLocation request: "),
                                    std::string("[INFO] Reply SelectedText request: "), pasteLine}) {
        EXPECT_EQ(countLines(line), 1u) << line.substr(0, 80);
    }
    EXPECT_EQ(countLines("[INFO] Got message: "), 5u);
}

// Without permission every request that needs it answers false; an InsertText without a string does too,
// before asking for permission; a message without a known type gets no answer. None touches the pasteboard,
// the keyboard or the tap.
TEST_F(XpcServiceTest, RefusedAndUnknownRequestsTouchNothing) {
    sim_.setTrusted(false);
    Object bytes = insertText(""), untyped = Object::dictionary(), numericType = Object::dictionary();
    bytes.set("data", Object::data(std::string_view("as bytes")));
    untyped.set("kind", Object::string("StartMonitor"));
    numericType.set("type", Object::int64(1));
    Client& client = connect();
    for (const Object& request :
         {untyped, numericType, xpc::testing::message("startmonitor"), xpc::testing::message("Ping"),
          xpc::testing::message("StartMonitor"), xpc::testing::message("IsPermissionGranted"),
          insertText("never"), bytes, xpc::testing::message("InsertText")})
        client.send(request);
    ASSERT_TRUE(client.waitFor(5));
    settle(20ms);
    ASSERT_EQ(client.messages(), 5u);
    const char* answered[] = {"StartMonitor", "IsPermissionGranted", "InsertText", "InsertText",
                              "InsertText"};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(content(client.received()[i], answered[i])["result"], false);
    EXPECT_EQ(sim_.trustChecks(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(countLines("[WARN] XPC description: "), 2u);
    EXPECT_EQ(countLines("[INFO] Got message: Ping"), 1u);
    EXPECT_FALSE(monitor_.isTapInstalled());
    sim_.scheduler().advance(1s);
    EXPECT_EQ(sim_.pasteboard().changeCount(), 0);
    EXPECT_TRUE(sim_.postedKeyEvents().empty());
}

TEST_F(XpcServiceTest, SecondStartIsRefusedAndMonitoringEndsWithTheLastWatcherWhileThePeerStays) {
    EXPECT_FALSE(service_->startWithServiceName(XpcService::kServiceName));
    EXPECT_EQ(countLines("[ERROR] XPC service already started."), 1u);

    // The only watcher goes away after a newer, non-watching client was accepted: monitoring ends, and the
    // error leaves the peer in place.
    Client& starter = connect();
    ASSERT_TRUE(starter.ask("StartMonitor", 1));
    Client& newer = connect();
    ASSERT_TRUE(newer.ask("IsPermissionGranted", 1));
    ASSERT_TRUE(monitor_.isTapInstalled());
    const auto peer = service_->peer();
    starter.connection->cancel();
    ASSERT_TRUE(runUntil([&] { return !monitor_.isTapInstalled(); }));
    EXPECT_EQ(countLines("[WARN] Got XPC_ERROR_CONNECTION_INVALID"), 1u);
    EXPECT_EQ(service_->peer(), peer);
}

}  // namespace
