#pragma once

#include <memory>
#include <string>
#include <vector>

#include "helper/EventMonitor.h"
#include "helper/PasteboardHelper.h"
#include "platform/Scheduler.h"
#include "xpc/Connection.h"
#include "xpc/Listener.h"
#include "xpc/Object.h"

// The service's only link to its client application: publishes the named service, accepts client
// connections, answers the five requests ("StartMonitor", "IsPermissionGranted", "MouseLocation",
// "SelectedText", "InsertText") and sends "SelectionEvent" when the event monitor saw the user select text.
//
// Events go to every connected client that asked for them with "StartMonitor" (a desktop has several clients
// at once: the assistant, scripts, the command-line tool), in the order they asked; a client that never asked
// gets none. The monitor runs while at least one such client is connected and stops when the last one goes.
//
// Every message, both ways, carries its kind in "type"; answers and events carry a compact JSON object in the
// byte string "data" that repeats the kind. An answer is a new message on the connection that asked.
//
// Main thread only: the listener and every connection deliver on the main queue, and the deferred answers
// ("SelectedText" through a simulated copy, "InsertText" 50 ms after its paste) run from the main scheduler.
// Answers can therefore leave in another order than their requests came. No locks.
//
// Lifetime: the shared instance lives until the process ends. A service built for a test must outlive its
// listener's use; handlers and deferred work hold it only weakly and do nothing once it is gone. The monitor,
// pasteboard helper and scheduler it was given must outlive it.
class XpcService {
  public:
    using ConnectionPtr = std::shared_ptr<xpc::Connection>;

    // The service identifier: the socket's name and the journal subsystem.
    static constexpr const char* kServiceName = "com.tandrel.helper";

    // The process's service, on the shared monitor and pasteboard helper and the platform's main scheduler;
    // created once, safely under concurrent first calls.
    static XpcService& sharedInstance();

    // Hooks itself to `monitor` as its text-selected handler (removed again on destruction).
    XpcService(EventMonitor& monitor, PasteboardHelper& pasteboardHelper, platform::Scheduler& mainScheduler);
    // Cancels the listener if one was started.
    ~XpcService();
    XpcService(const XpcService&) = delete;
    XpcService& operator=(const XpcService&) = delete;

    // Publishes the service. False, with an error line, when it was already started or the listener cannot be
    // created (the name is served by a live process or cannot be bound).
    bool startWithServiceName(const std::string& name);
    // Sends an event of `kind` to every watching client, in the order they asked; dropped when none watches.
    void sendEvent(const std::string& kind);
    // Tells every open connection that the process is about to exit (each then sees TerminationImminent
    // through `handleEvent`, queued on the main queue behind what is already there).
    void deliverTerminationImminent();

    // One object delivered on `peer`: a request, or an error, which ends `peer`'s watching and stops the
    // event monitor when no watching client is left.
    void handleEvent(const xpc::Object& event, const ConnectionPtr& peer);
    void handleStartRequest(const ConnectionPtr& peer);
    void handleIsPermissionGrantedRequest(const ConnectionPtr& peer);
    void handleMouseLocationRequest(const ConnectionPtr& peer);
    void handleSelectedTextRequest(const ConnectionPtr& peer);
    void handleInsertTextRequest(const ConnectionPtr& peer, const std::string& text);

    const std::shared_ptr<xpc::Listener>& listener() const { return listener_; }
    const ConnectionPtr& peer() const { return peer_; }
    std::size_t watcherCount() const { return watchers_.size(); }

  private:
    void accept(const ConnectionPtr& connection);
    // An "InsertText" that carries no text: nothing to insert, so "result" false at once.
    void refuseInsertTextWithoutText(const ConnectionPtr& peer);

    EventMonitor& eventMonitor_;
    PasteboardHelper& pasteboardHelper_;
    platform::Scheduler& mainScheduler_;
    // Expires with the service, so handlers and late work can tell.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    std::shared_ptr<xpc::Listener> listener_;
    // The latest accepted connection (answers go to the connection that asked; events to `watchers_`).
    ConnectionPtr peer_;
    // The clients whose "StartMonitor" started the monitor and that have not reported an error since, in the
    // order they asked. Held weakly: a connection keeps itself alive while its transport is open.
    std::vector<std::weak_ptr<xpc::Connection>> watchers_;
};
