#include "platform/x11/internal/testing/TkTextWindow.h"

#include <sstream>

namespace x11::testing {

std::unique_ptr<TkTextWindow> TkTextWindow::start(const std::string& displayEnv, const std::string& text,
                                                  int x, int y, bool selectFirstWord, std::string* why,
                                                  int copyDelayMs) {
    std::ostringstream script;
    script << "wm title . tandrel-tk\nwm geometry . 400x200+" << x << "+" << y << "\n"
           << "text .t -exportselection 0\n"
           << "pack .t -fill both -expand 1\n"
           << ".t insert end {" << text << "}\n"
           << "bind .t <KeyPress> {puts \"key %K %s\"; flush stdout}\n"
           << "bind .t <<Modified>> {if {[.t edit modified]} {puts \"text [string map {\\n |} [.t get 1.0 "
              "end-1c]]\"; flush stdout; .t edit modified 0}}\n";
    if (copyDelayMs > 0) script << "bind .t <<Copy>> {after " << copyDelayMs << " {tk_textCopy .t}; break}\n";
    script << "tkwait visibility .t\nfocus -force .t\n";
    if (selectFirstWord) script << ".t tag add sel 1.0 {1.0 wordend}\n";
    script << ".t mark set insert end\nputs ready\nflush stdout\n";
    auto window = std::unique_ptr<TkTextWindow>(new TkTextWindow());
    ChildProcess::Options options;
    options.env = {displayEnv};
    window->script_ = ScriptProcess::start(script.str(), {}, options, why, "wish");
    if (!window->script_) return nullptr;
    if (!window->output().until([](const std::string& l) { return l == "ready"; },
                                std::chrono::seconds(10))) {
        if (why) *why = "wish did not come up";
        return nullptr;
    }
    return window;
}

}  // namespace x11::testing
