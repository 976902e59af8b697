#include "platform/wayland/internal/DataControl.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/wayland/internal/Protocols.h"

namespace wayland::internal {

namespace {

// Text types in the order of preference; the first one offered is read.
constexpr std::array<std::string_view, 5> kTextTypes = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                        "text/plain", "STRING", "TEXT"};

int index(Selection selection) {
    return static_cast<int>(selection);
}

// A write to a pipe whose reader has gone raises SIGPIPE, which would end the process: hold the signal back
// on this thread for the write and discard one that became pending.
ssize_t writeWithoutSigpipe(int fd, const void* data, std::size_t size) {
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    ssize_t written = write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE) {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) && !sigismember(&previous, SIGPIPE)) {
            timespec none{0, 0};
            sigtimedwait(&pipeOnly, nullptr, &none);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

}  // namespace

// Writes one served type into one reader's pipe without blocking; destroys itself (through its owner) when
// done or when the reader went away.
class DataControl::Writer {
  public:
    Writer(DataControl& owner, std::shared_ptr<const Contents> contents, std::size_t index, int fd)
        : owner_(owner), contents_(std::move(contents)), index_(index), fd_(fd) {}
    ~Writer() { close(fd_); }

    // False when finished (written or failed).
    bool writeSome() {
        const platform::Bytes& data = (*contents_)[index_].second;
        while (offset_ < data.size()) {
            ssize_t n = writeWithoutSigpipe(fd_, data.data() + offset_, data.size() - offset_);
            if (n > 0) {
                offset_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return n < 0 && errno == EAGAIN;
            }
        }
        return false;
    }

    void watchUntilDone() {
        watch_ = dispatch::RunLoop::main().watch(fd_, dispatch::RunLoop::Writable, [this](unsigned) {
            if (!writeSome()) owner_.writers_.remove_if([this](const auto& w) { return w.get() == this; });
        });
    }

  private:
    DataControl& owner_;
    std::shared_ptr<const Contents> contents_;
    std::size_t index_;
    int fd_;
    std::size_t offset_ = 0;
    std::unique_ptr<dispatch::RunLoop::Watch> watch_;
};

std::unique_ptr<DataControl> DataControl::create(Connection& connection, std::string* why) {
    if (!connection.dataControlManager() || !connection.seat()) {
        if (why)
            *why = "the compositor offers no data control with PRIMARY (zwlr_data_control_manager_v1 v2)";
        return nullptr;
    }
    auto* device =
        zwlr_data_control_manager_v1_get_data_device(connection.dataControlManager(), connection.seat());
    auto control = std::unique_ptr<DataControl>(new DataControl(connection, device));
    static const zwlr_data_control_device_v1_listener listener = {
        .data_offer = &DataControl::onDataOffer,
        .selection = &DataControl::onSelection,
        .finished = &DataControl::onFinished,
        .primary_selection = &DataControl::onPrimarySelection,
    };
    zwlr_data_control_device_v1_add_listener(device, &listener, control.get());
    // The current selections arrive at once: have them before the first question.
    connection.roundtrip();
    return control;
}

DataControl::DataControl(Connection& connection, zwlr_data_control_device_v1* device)
    : connection_(connection), device_(device) {}

DataControl::~DataControl() {
    writers_.clear();
    for (Selection s : {Selection::Clipboard, Selection::Primary}) {
        dropSource(s);
        if (current_[index(s)].proxy) zwlr_data_control_offer_v1_destroy(current_[index(s)].proxy);
    }
    for (auto& [offer, types] : announced_) zwlr_data_control_offer_v1_destroy(offer);
    if (device_) zwlr_data_control_device_v1_destroy(device_);
    connection_.flush();
}

int DataControl::addChangeHandler(ChangeHandler handler) {
    handlers_.emplace(++nextHandler_, std::move(handler));
    return nextHandler_;
}

void DataControl::removeChangeHandler(int id) {
    handlers_.erase(id);
}

std::vector<std::string> DataControl::types(Selection selection) const {
    if (isOwn(selection)) {
        std::vector<std::string> own;
        for (const auto& [type, data] : *source_[index(selection)].contents) own.push_back(type);
        return own;
    }
    return current_[index(selection)].types;
}

bool DataControl::isOwn(Selection selection) const {
    return source_[index(selection)].proxy != nullptr;
}

std::uint64_t DataControl::serial(Selection selection) const {
    return serial_[index(selection)];
}

void DataControl::onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControl*>(data);
    self->announced_[offer];
    static const zwlr_data_control_offer_v1_listener listener = {.offer = &DataControl::onOfferType};
    zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void DataControl::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
    auto* self = static_cast<DataControl*>(data);
    auto it = self->announced_.find(offer);
    if (it != self->announced_.end()) it->second.emplace_back(type);
}

void DataControl::onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    static_cast<DataControl*>(data)->takeOffer(Selection::Clipboard, offer);
}

void DataControl::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                     zwlr_data_control_offer_v1* offer) {
    static_cast<DataControl*>(data)->takeOffer(Selection::Primary, offer);
}

void DataControl::onFinished(void* data, zwlr_data_control_device_v1*) {
    // The seat went away: nothing more will be offered on this device.
    auto* self = static_cast<DataControl*>(data);
    zwlr_data_control_device_v1_destroy(self->device_);
    self->device_ = nullptr;
}

void DataControl::takeOffer(Selection selection, zwlr_data_control_offer_v1* offer) {
    Offer& current = current_[index(selection)];
    if (current.proxy) zwlr_data_control_offer_v1_destroy(current.proxy);
    current = Offer{};
    if (offer) {
        auto it = announced_.find(offer);
        current.proxy = offer;
        if (it != announced_.end()) {
            current.types = std::move(it->second);
            announced_.erase(it);
        }
    }
    ++serial_[index(selection)];
    auto handlers = handlers_;  // a handler may remove itself
    for (auto& [id, handler] : handlers) handler(selection);
}

std::optional<platform::Bytes> DataControl::read(Selection selection, std::string_view type,
                                                 std::chrono::milliseconds timeout) {
    if (isOwn(selection)) {
        for (const auto& [own, data] : *source_[index(selection)].contents)
            if (own == type) return data;
        return std::nullopt;
    }
    const Offer& offer = current_[index(selection)];
    if (!offer.proxy || std::find(offer.types.begin(), offer.types.end(), type) == offer.types.end())
        return std::nullopt;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return std::nullopt;
    zwlr_data_control_offer_v1_receive(offer.proxy, std::string(type).c_str(), fds[1]);
    connection_.flush();
    close(fds[1]);

    platform::Bytes data;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool complete = false;
    while (!complete) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{fds[0], POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        std::uint8_t chunk[65536];
        ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n > 0) {
            data.insert(data.end(), chunk, chunk + n);
        } else if (n == 0) {
            complete = true;
        } else if (errno != EINTR && errno != EAGAIN) {
            break;
        }
    }
    close(fds[0]);
    if (!complete) return std::nullopt;
    return data;
}

std::optional<std::string> DataControl::readText(Selection selection, std::chrono::milliseconds timeout) {
    const auto offered = types(selection);
    for (std::string_view type : kTextTypes) {
        if (std::find(offered.begin(), offered.end(), type) == offered.end()) continue;
        auto data = read(selection, type, timeout);
        if (!data) return std::nullopt;
        return std::string(data->begin(), data->end());
    }
    return std::nullopt;
}

bool DataControl::serve(Selection selection, Contents contents) {
    if (connection_.isBroken() || !device_) return false;
    dropSource(selection);
    zwlr_data_control_source_v1* proxy = nullptr;
    if (!contents.empty()) {
        proxy = zwlr_data_control_manager_v1_create_data_source(connection_.dataControlManager());
        static const zwlr_data_control_source_v1_listener listener = {.send = &DataControl::onSend,
                                                                      .cancelled = &DataControl::onCancelled};
        zwlr_data_control_source_v1_add_listener(proxy, &listener, this);
        for (const auto& [type, data] : contents) zwlr_data_control_source_v1_offer(proxy, type.c_str());
        source_[index(selection)] = Source{proxy, std::make_shared<const Contents>(std::move(contents))};
    }
    if (selection == Selection::Primary)
        zwlr_data_control_device_v1_set_primary_selection(device_, proxy);
    else
        zwlr_data_control_device_v1_set_selection(device_, proxy);
    connection_.flush();
    return !connection_.isBroken();
}

void DataControl::dropSource(Selection selection) {
    Source& source = source_[index(selection)];
    if (source.proxy) zwlr_data_control_source_v1_destroy(source.proxy);
    // Writers keep their own reference to the contents and finish what readers already asked for.
    source = Source{};
}

void DataControl::onSend(void* data, zwlr_data_control_source_v1* proxy, const char* type, int fd) {
    auto* self = static_cast<DataControl*>(data);
    for (const Source& source : self->source_) {
        if (source.proxy != proxy) continue;
        const Contents& contents = *source.contents;
        for (std::size_t i = 0; i < contents.size(); ++i) {
            if (contents[i].first != type) continue;
            self->startWriter(source.contents, i, fd);
            return;
        }
    }
    close(fd);
}

void DataControl::onCancelled(void* data, zwlr_data_control_source_v1* proxy) {
    auto* self = static_cast<DataControl*>(data);
    for (Selection s : {Selection::Clipboard, Selection::Primary})
        if (self->source_[index(s)].proxy == proxy) self->dropSource(s);
}

void DataControl::startWriter(std::shared_ptr<const Contents> contents, std::size_t index, int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto writer = std::make_unique<Writer>(*this, std::move(contents), index, fd);
    if (!writer->writeSome()) return;
    writer->watchUntilDone();
    writers_.push_back(std::move(writer));
}

}  // namespace wayland::internal
