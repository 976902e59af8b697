#include "platform/x11/internal/testing/TkTextWindow.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace x11::testing {

std::unique_ptr<TkTextWindow> TkTextWindow::start(const std::string& displayEnv, const std::string& text,
                                                  int x, int y, bool selectFirstWord, std::string* why,
                                                  int copyDelayMs) {
    char path[] = "/tmp/tandrel-tk-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return nullptr;
    close(fd);
    std::ofstream script(path);
    script << "wm geometry . 400x200+" << x << "+" << y << "\n"
           << "text .t -exportselection 0\n"
           << "pack .t -fill both -expand 1\n"
           << ".t insert end {" << text << "}\n"
           << "bind .t <KeyPress> {puts \"key %K %s\"; flush stdout}\n"
           << "bind .t <<Modified>> {if {[.t edit modified]} {puts \"text [string map {\\n |} [.t get 1.0 "
              "end-1c]]\"; flush stdout; .t edit modified 0}}\n"
           << (copyDelayMs > 0
                   ? "bind .t <<Copy>> {after " + std::to_string(copyDelayMs) + " {tk_textCopy .t}; break}\n"
                   : std::string())
           << "tkwait visibility .t\n"
           << "focus -force .t\n"
           << (selectFirstWord ? ".t tag add sel 1.0 {1.0 wordend}\n" : "") << ".t mark set insert end\n"
           << "puts ready\nflush stdout\n";
    script.close();
    auto window = std::unique_ptr<TkTextWindow>(new TkTextWindow());
    window->scriptPath_ = path;
    ChildProcess::Options options;
    options.env = {displayEnv};
    options.captureStdout = true;
    window->process_ = ChildProcess::start({"wish", path}, options, why);
    if (!window->process_) return nullptr;
    window->reader_ = std::make_unique<LineReader>(window->process_->stdoutFd());
    if (!window->reader_->until([](const std::string& l) { return l == "ready"; },
                                std::chrono::seconds(10))) {
        if (why) *why = "wish did not come up";
        return nullptr;
    }
    return window;
}

TkTextWindow::~TkTextWindow() {
    process_.reset();
    if (!scriptPath_.empty()) std::remove(scriptPath_.c_str());
}

}  // namespace x11::testing
