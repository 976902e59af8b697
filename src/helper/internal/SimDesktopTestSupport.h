#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "helper/CursorHelper.h"
#include "helper/EventMonitor.h"
#include "helper/PasteboardHelper.h"
#include "logging/DDLog.h"
#include "logging/testing/DDTestLogger.h"
#include "platform/sim/SimPlatform.h"

namespace helper::testing {

inline platform::PasteboardItem textItem(const std::string& text) {
    platform::PasteboardItem item;
    item.setStringForType(text, platform::kPasteboardTypeString);
    return item;
}

// The service's parts on a simulated desktop that trusts the helper and whose frontmost application has one
// focused field, with the log lines collected. For the helper's own tests, on the main thread.
class SimDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DDLog::sharedInstance().addLogger(logger_);
        cursorHelper_.setup();
        app_->setFocusedElement(field_);
        sim_.setFrontmost(app_);
        sim_.setTrusted(true);
    }
    void TearDown() override {
        DDLog::sharedInstance().removeAllLoggers();
        DDLog::sharedInstance().flushLog();
    }

    void select(const std::string& text) { field_->setAttribute(platform::kAXSelectedTextAttribute, text); }
    // The accessibility interface offers nothing; the application copies `text` when asked.
    void copyOnly(const std::string& text) {
        app_->setFocusedElement(nullptr);
        app_->setSelection(text);
        app_->setCopyReaction(platform::sim::SimApplication::CopyReaction::Immediately);
    }
    std::vector<std::string> logLines() {
        DDLog::sharedInstance().flushLog();
        return logger_->texts();
    }
    std::size_t countLines(const std::string& prefix) {
        const auto lines = logLines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const auto& line) { return line.starts_with(prefix); }));
    }

    std::shared_ptr<DDTestLogger> logger_ = DDTestLogger::create();
    platform::sim::SimPlatform sim_;
    CursorHelper cursorHelper_{sim_.cursors()};
    PasteboardHelper pasteboardHelper_{sim_.generalPasteboard(), sim_.keyboard()};
    EventMonitor monitor_{sim_, cursorHelper_, pasteboardHelper_};
    std::shared_ptr<platform::sim::SimApplication> app_ = sim_.addApplication(100, "Editor");
    std::shared_ptr<platform::sim::SimElement> field_ = sim_.makeElement("field");
};

}  // namespace helper::testing
