#include "platform/wayland/internal/KWinCursorScript.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/wayland/internal/testing/CompositorTest.h"

namespace wayland::internal {
namespace {

using namespace std::chrono_literals;
using ::wayland::testing::Compositor;

TEST(KWinCursorScriptTest, AnswersWhereThePointerIsAndTheOriginOutputsHeightCallAfterCall) {
    std::string why;
    auto* kwin = ::wayland::testing::sharedCompositor(Compositor::Kind::KWin, &why);
    if (!kwin) GTEST_SKIP() << ::wayland::testing::cannotStart(Compositor::Kind::KWin, why);
    // The script talks to KWin's session bus.
    for (const auto& entry : kwin->helperEnv())
        setenv(entry.substr(0, entry.find('=')).c_str(), entry.substr(entry.find('=') + 1).c_str(), 1);
    auto script = KWinCursorScript::create(&why);
    ASSERT_TRUE(script) << why;
    for (auto [x, y] : {std::pair{300, 200}, std::pair{1279, 799}, std::pair{0, 0}, std::pair{300, 200}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        kwin->pointer().moveTo(x, y);
        auto found = script->locate(2s, &why);
        ASSERT_TRUE(found) << why;
        EXPECT_EQ(found->x, x);
        EXPECT_EQ(found->y, y);
        EXPECT_EQ(found->primaryHeight, 800);
    }
}

}  // namespace
}  // namespace wayland::internal
