#include <gtest/gtest.h>

#include "logging/DDLogFlags.h"
#include "logging/extensions/DDContextAllowlistFilterLogFormatter.h"
#include "logging/extensions/DDContextDenylistFilterLogFormatter.h"

// The older names are exercised on purpose.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// Whether `filter` lets a record of `context` through; when it does, the text must be the record's own.
bool passes(DDLogFormatter& filter, std::int64_t context, std::string text = "text") {
    const DDLogMessage record(std::move(text), LogLevel::All, LogFlag::Info, context, "f.cpp", "fn", 1,
                              nullptr, 0, std::nullopt);
    const DDText out = filter.formatLogMessage(record);
    EXPECT_TRUE(out == nullptr || out == record.messageText());
    return out != nullptr;
}

TEST(DDContextFilterLogFormatterTest, ListsDecideWhichContextsPass) {
    DDContextAllowlistFilterLogFormatter allow;
    DDContextDenylistFilterLogFormatter deny;
    EXPECT_FALSE(passes(allow, 0));  // an empty allowlist holds back everything, context 0 included
    EXPECT_TRUE(passes(deny, 0));
    for (std::int64_t context : {0, -7, 5}) {
        allow.addToAllowlist(context);
        deny.addToBlacklist(context);
    }
    allow.addToWhitelist(5);
    deny.addToDenylist(5);
    allow.removeFromWhitelist(5);  // added twice, removed once: off
    deny.removeFromBlacklist(5);
    EXPECT_EQ(allow.whitelist().size(), 2u);
    EXPECT_EQ(deny.denylist().size(), 2u);

    for (const auto& [context, listed] : {std::pair<std::int64_t, bool>{-7, true}, {7, false}, {5, false}}) {
        SCOPED_TRACE(context);
        EXPECT_EQ(passes(allow, context), listed);
        EXPECT_EQ(passes(deny, context), !listed);
    }
    EXPECT_TRUE(passes(allow, 0, ""));  // an empty text is let through as it is
    EXPECT_TRUE(passes(deny, 1, ""));
}

}  // namespace
