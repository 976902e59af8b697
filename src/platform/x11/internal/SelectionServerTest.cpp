// GoogleTest first: the X headers define macros (None, Bool) that clash with it.
#include <gtest/gtest.h>

#include "platform/x11/internal/SelectionServer.h"

#include <X11/Xatom.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <thread>

#include "platform/x11/internal/SelectionOwnerWatcher.h"
#include "platform/x11/internal/SelectionReader.h"
#include "platform/x11/internal/testing/XvfbTest.h"

namespace x11::internal {
namespace {

using namespace std::chrono_literals;
using x11::testing::runCommand;
using x11::testing::waitUntil;

std::string atomName(Connection& c, ::Atom atom) {
    char* name = XGetAtomName(c.get(), atom);
    std::string out = name ? name : "";
    if (name) XFree(name);
    return out;
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7919 + i / 251) & 0xff);
    return s;
}

class SelectionServerTest : public x11::testing::XvfbConnectionTest {
  protected:
    void SetUp() override {
        XvfbConnectionTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        clipboard_ = connection_->atom("CLIPBOARD");
    }

    // What xclip reads from the clipboard for a target.
    std::string xclipOut(const std::string& target, int* status = nullptr) {
        return runCommand({"xclip", "-o", "-selection", "clipboard", "-t", target}, env(), status);
    }

    // Lets `server` answer while an external reader runs: pumps the connection from a helper thread-free
    // loop.
    std::string xclipOutServed(const std::string& target, int* status = nullptr) {
        std::string out;
        x11::testing::ChildProcess::Options options;
        options.env = env();
        options.captureStdout = true;
        auto child = x11::testing::ChildProcess::start(
            {"xclip", "-o", "-selection", "clipboard", "-t", target}, options);
        EXPECT_TRUE(child);
        int fd = child->stdoutFd();
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            connection_->waitFor([](const XEvent&) { return false; }, 2ms);
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 0) > 0) {
                char buffer[65536];
                ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                out.append(buffer, static_cast<size_t>(n));
            }
        }
        int rc = child->waitExit(5s);
        if (status) *status = rc;
        return out;
    }

    ::Atom clipboard_ = 0;
};

TEST_F(SelectionServerTest, SavesEveryTargetOfAnOwnerAndServesThemBackByteForByte) {
    // An application owning CLIPBOARD with text, HTML and a large image.
    auto app = Connection::open(display_);
    ASSERT_TRUE(app);
    SelectionServer source(*app, app->atom("CLIPBOARD"));
    std::vector<SelectionData> original = {
        {app->atom("UTF8_STRING"), app->atom("UTF8_STRING"), 8, "h\xc3\xa9llo clipboard"},
        {app->atom("text/html"), app->atom("text/html"), 8, "<b>h\xc3\xa9llo</b>"},
        {app->atom("image/png"), app->atom("image/png"), 8, pattern(1 << 20)},
    };
    ASSERT_TRUE(source.own(original));
    ASSERT_GT(original[2].bytes.size(), source.incrementalThreshold());

    // Save it from another client, as the backend does before a simulated copy.
    std::thread pump;
    std::atomic<bool> done{false};
    // The source application answers on its own connection, like a real one.
    pump = std::thread([&] {
        while (!done) app->waitFor([](const XEvent&) { return false; }, 5ms);
    });
    SelectionReader reader(*connection_);
    std::vector<SelectionData> saved;
    auto started = Clock::now();
    for (::Atom target : reader.targets(clipboard_, 1000ms)) {
        char* name = XGetAtomName(connection_->get(), target);
        bool meta = isMetaTarget(name);
        XFree(name);
        if (meta) continue;
        auto value = reader.read(clipboard_, target, 1000ms);
        ASSERT_TRUE(value);
        saved.push_back(*value);
    }
    auto saveTime = Clock::now() - started;
    done = true;
    pump.join();
    ASSERT_EQ(saved.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(saved[i].bytes, original[i].bytes) << i;  // the large one came through INCR
        EXPECT_EQ(atomName(*connection_, saved[i].target), atomName(*app, original[i].target));
    }
    std::cout << "[ figure ] saving 3 targets incl. 1 MiB: "
              << std::chrono::duration_cast<std::chrono::microseconds>(saveTime).count() << " us\n";

    // Restore: this process owns CLIPBOARD and serves every target to another client (xclip).
    SelectionServer restorer(*connection_, clipboard_);
    bool lost = false;
    restorer.setOnLost([&] { lost = true; });
    ASSERT_TRUE(restorer.own(saved));
    EXPECT_EQ(XGetSelectionOwner(connection_->get(), clipboard_), restorer.window());
    EXPECT_EQ(xclipOutServed("text/html"), original[1].bytes);
    EXPECT_EQ(xclipOutServed("UTF8_STRING"), original[0].bytes);
    EXPECT_EQ(xclipOutServed("image/png"), original[2].bytes);
    std::string targets = xclipOutServed("TARGETS");
    for (const char* t : {"TARGETS", "TIMESTAMP", "MULTIPLE", "UTF8_STRING", "text/html", "image/png"})
        EXPECT_NE(targets.find(t), std::string::npos) << t << " missing from " << targets;
    int status = 0;
    xclipOutServed("application/x-unknown", &status);
    EXPECT_NE(status, 0);  // refused, not served empty
    EXPECT_EQ(restorer.activeTransfers(), 0u);

    // Its own reader on the same connection is served too (the request is answered while it waits).
    auto self = reader.read(clipboard_, connection_->atom("image/png"), 1000ms);
    ASSERT_TRUE(self);
    EXPECT_EQ(self->bytes, original[2].bytes);

    // Another owner ends the service.
    auto other = xclipOwn("clipboard", "other");
    EXPECT_TRUE(waitUntil([&] {
        connection_->dispatchPending();
        return lost;
    }));
    EXPECT_FALSE(restorer.owns());
}

TEST_F(SelectionServerTest, ChangeCountCountsOnlyOtherOwnersAndWaitsForANewOwner) {
    SelectionOwnerWatcher watcher(*connection_, {clipboard_, XA_PRIMARY});
    SelectionServer own(*connection_, clipboard_);
    watcher.ignoreOwner(own.window());
    auto before = watcher.state(clipboard_).foreignChanges;
    ASSERT_TRUE(own.own({{connection_->atom("UTF8_STRING"), connection_->atom("UTF8_STRING"), 8, "mine"}}));
    EXPECT_EQ(watcher.state(clipboard_).foreignChanges, before);

    ::Time since = connection_->serverTime(own.window());
    EXPECT_FALSE(watcher.waitForOwnerSince(XA_PRIMARY, since, 50ms));
    auto xclip = xclipOwn("primary", "primary");
    EXPECT_TRUE(watcher.waitForOwnerSince(XA_PRIMARY, since, 5000ms));
    SelectionReader reader(*connection_);
    EXPECT_EQ(reader.readText(XA_PRIMARY, 1000ms).value_or(""), "primary");

    auto theirs = xclipOwn("clipboard", "theirs");
    EXPECT_TRUE(waitUntil([&] { return watcher.state(clipboard_).foreignChanges == before + 1; }));
    EXPECT_NE(watcher.state(clipboard_).owner, own.window());
}

TEST_F(SelectionServerTest, ReadingWithoutOwnerOrAnswerIsBounded) {
    SelectionReader reader(*connection_);
    ::Atom nobody = connection_->atom("_TANDREL_NOBODY");
    EXPECT_FALSE(reader.readText(nobody, 100ms));
    // An owner that never answers: the read gives up after its timeout.
    auto mute = Connection::open(display_);
    ::Window window = XCreateSimpleWindow(mute->get(), mute->root(), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(mute->get(), nobody, window, CurrentTime);
    XSync(mute->get(), False);
    auto started = Clock::now();
    EXPECT_FALSE(reader.read(nobody, connection_->atom("UTF8_STRING"), 100ms));
    EXPECT_LT(Clock::now() - started, 1s);
}

}  // namespace
}  // namespace x11::internal
