#pragma once

#include <memory>
#include <string>

#include "CommandLine.h"
#include "dispatch/WorkItem.h"
#include "xpc/Connection.h"

namespace tandrelctl {

// Runs one tandrelctl command against the service on the main run loop: connects, sends the request, prints
// each answer or event as one JSON line on standard output, and stops with an exit status (0 done, 1 the
// service is not running, went away or did not answer in time). `run` blocks the calling (main) thread until
// then. SIGINT and SIGTERM end `watch` with status 0 and other commands with status 130; the caller must
// block both signals in every thread before starting any (see `blockSignals`).
class Session {
  public:
    explicit Session(CommandLine line) : line_(std::move(line)) {}
    int run();

    // Blocks SIGINT and SIGTERM so that the run loop can read them; call first in `main`.
    static void blockSignals();

  private:
    void onEvent(const xpc::Object& event);
    void onMessage(const xpc::Object& message);
    void send(const xpc::Object& message, bool expectAnswer);
    void answered();
    void armTimeout();
    void print(const xpc::Object& message);
    void finish(int status, const std::string& reason = "");

    const CommandLine line_;
    std::shared_ptr<xpc::Connection> connection_;
    std::string expected_;  // the answer type awaited ("" = any message, for send)
    int pendingAnswers_ = 0;
    std::shared_ptr<dispatch::WorkItem> deadline_;
    std::string lastWarning_;
    bool finished_ = false;
    int status_ = 0;
};

}  // namespace tandrelctl
