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

// What the shared code asks of a protocol.
class DataControl::Binding {
  public:
    virtual ~Binding() = default;
    virtual std::string name() const = 0;
    virtual void listen(DataControl& owner) = 0;
    virtual void receive(wl_proxy* offer, const char* type, int fd) = 0;
    virtual void destroyOffer(wl_proxy* offer) = 0;
    // A new source offering `types`, whose events reach `owner`.
    virtual wl_proxy* createSource(DataControl& owner, const Contents& contents) = 0;
    virtual void destroySource(wl_proxy* source) = 0;
    virtual void setSelection(Selection selection, wl_proxy* source) = 0;
    virtual bool hasDevice() const = 0;
    virtual void destroyDevice() = 0;
};

// The two protocols differ only in their names: one set of functions per prefix.
#define TANDREL_DATA_CONTROL_PROTOCOL(Traits, prefix)                                                       \
    struct Traits {                                                                                         \
        using Manager = prefix##_manager_v1;                                                                \
        using Device = prefix##_device_v1;                                                                  \
        using Source = prefix##_source_v1;                                                                  \
        using Offer = prefix##_offer_v1;                                                                    \
        using DeviceListener = prefix##_device_v1_listener;                                                 \
        using SourceListener = prefix##_source_v1_listener;                                                 \
        using OfferListener = prefix##_offer_v1_listener;                                                   \
        static constexpr const char* kName = #prefix "_manager_v1";                                         \
        static Device* getDevice(Manager* m, wl_seat* seat) {                                               \
            return prefix##_manager_v1_get_data_device(m, seat);                                            \
        }                                                                                                   \
        static Source* createSource(Manager* m) { return prefix##_manager_v1_create_data_source(m); }       \
        static void offer(Source* s, const char* type) { prefix##_source_v1_offer(s, type); }               \
        static void destroy(Source* s) { prefix##_source_v1_destroy(s); }                                   \
        static void destroy(Offer* o) { prefix##_offer_v1_destroy(o); }                                     \
        static void destroy(Device* d) { prefix##_device_v1_destroy(d); }                                   \
        static void receive(Offer* o, const char* type, int fd) { prefix##_offer_v1_receive(o, type, fd); } \
        static void setSelection(Device* d, Source* s) { prefix##_device_v1_set_selection(d, s); }          \
        static void setPrimarySelection(Device* d, Source* s) {                                             \
            prefix##_device_v1_set_primary_selection(d, s);                                                 \
        }                                                                                                   \
        static void add(Device* d, const DeviceListener* l, void* data) {                                   \
            prefix##_device_v1_add_listener(d, l, data);                                                    \
        }                                                                                                   \
        static void add(Source* s, const SourceListener* l, void* data) {                                   \
            prefix##_source_v1_add_listener(s, l, data);                                                    \
        }                                                                                                   \
        static void add(Offer* o, const OfferListener* l, void* data) {                                     \
            prefix##_offer_v1_add_listener(o, l, data);                                                     \
        }                                                                                                   \
    };
TANDREL_DATA_CONTROL_PROTOCOL(ExtDataControl, ext_data_control)
TANDREL_DATA_CONTROL_PROTOCOL(WlrDataControl, zwlr_data_control)
#undef TANDREL_DATA_CONTROL_PROTOCOL

template <typename P>
class DataControl::ProtocolBinding : public DataControl::Binding {
  public:
    ProtocolBinding(typename P::Manager* manager, wl_seat* seat)
        : manager_(manager), device_(P::getDevice(manager, seat)) {}
    ~ProtocolBinding() override { destroyDevice(); }

    std::string name() const override { return P::kName; }

    void listen(DataControl& owner) override {
        static const typename P::DeviceListener listener = {
            .data_offer =
                [](void* data, typename P::Device*, typename P::Offer* offer) {
                    listenToOffer(*static_cast<DataControl*>(data), proxy(offer));
                    static_cast<DataControl*>(data)->offerAnnounced(proxy(offer));
                },
            .selection =
                [](void* data, typename P::Device*, typename P::Offer* offer) {
                    static_cast<DataControl*>(data)->selectionOffered(Selection::Clipboard, proxy(offer));
                },
            .finished = [](void* data,
                           typename P::Device*) { static_cast<DataControl*>(data)->deviceFinished(); },
            .primary_selection =
                [](void* data, typename P::Device*, typename P::Offer* offer) {
                    static_cast<DataControl*>(data)->selectionOffered(Selection::Primary, proxy(offer));
                },
        };
        P::add(device_, &listener, &owner);
    }

    void receive(wl_proxy* offer, const char* type, int fd) override {
        P::receive(as<typename P::Offer>(offer), type, fd);
    }
    void destroyOffer(wl_proxy* offer) override { P::destroy(as<typename P::Offer>(offer)); }

    wl_proxy* createSource(DataControl& owner, const Contents& contents) override {
        static const typename P::SourceListener listener = {
            .send = [](void* data, typename P::Source* source, const char* type,
                       int fd) { static_cast<DataControl*>(data)->sendRequested(proxy(source), type, fd); },
            .cancelled =
                [](void* data, typename P::Source* source) {
                    static_cast<DataControl*>(data)->sourceCancelled(proxy(source));
                },
        };
        typename P::Source* source = P::createSource(manager_);
        P::add(source, &listener, &owner);
        for (const auto& [type, data] : contents) P::offer(source, type.c_str());
        return proxy(source);
    }
    void destroySource(wl_proxy* source) override { P::destroy(as<typename P::Source>(source)); }

    void setSelection(Selection selection, wl_proxy* source) override {
        if (selection == Selection::Primary)
            P::setPrimarySelection(device_, as<typename P::Source>(source));
        else
            P::setSelection(device_, as<typename P::Source>(source));
    }

    bool hasDevice() const override { return device_ != nullptr; }
    void destroyDevice() override {
        if (device_) P::destroy(device_);
        device_ = nullptr;
    }

    // Offers announced by the device get their listener here, on first sight.
    static void listenToOffer(DataControl& owner, wl_proxy* offer) {
        static const typename P::OfferListener listener = {
            .offer = [](void* data, typename P::Offer* o,
                        const char* type) { static_cast<DataControl*>(data)->offerType(proxy(o), type); },
        };
        P::add(as<typename P::Offer>(offer), &listener, &owner);
    }

  private:
    template <typename T>
    static wl_proxy* proxy(T* object) {
        return reinterpret_cast<wl_proxy*>(object);
    }
    template <typename T>
    static T* as(wl_proxy* object) {
        return reinterpret_cast<T*>(object);
    }

    typename P::Manager* manager_;
    typename P::Device* device_;
};

std::unique_ptr<DataControl> DataControl::create(Connection& connection, std::string* why) {
    std::unique_ptr<Binding> binding;
    if (!connection.seat()) {
        if (why) *why = "the compositor offers no seat";
        return nullptr;
    }
    if (auto* ext = connection.extDataControlManager())
        binding = std::make_unique<ProtocolBinding<ExtDataControl>>(ext, connection.seat());
    else if (auto* wlr = connection.wlrDataControlManager())
        binding = std::make_unique<ProtocolBinding<WlrDataControl>>(wlr, connection.seat());
    if (!binding) {
        if (why)
            *why =
                "the compositor offers no data control with PRIMARY (ext_data_control_manager_v1, or "
                "zwlr_data_control_manager_v1 version 2)";
        return nullptr;
    }
    auto control = std::unique_ptr<DataControl>(new DataControl(connection, std::move(binding)));
    control->binding_->listen(*control);
    // The current selections arrive at once: have them before the first question.
    connection.roundtrip();
    return control;
}

DataControl::DataControl(Connection& connection, std::unique_ptr<Binding> binding)
    : connection_(connection), binding_(std::move(binding)) {}

DataControl::~DataControl() {
    writers_.clear();
    for (Selection s : {Selection::Clipboard, Selection::Primary}) {
        dropSource(s);
        if (current_[index(s)].proxy) binding_->destroyOffer(current_[index(s)].proxy);
    }
    for (auto& [offer, types] : announced_) binding_->destroyOffer(offer);
    binding_.reset();
    connection_.flush();
}

std::string DataControl::protocolName() const {
    return binding_->name();
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

void DataControl::offerAnnounced(wl_proxy* offer) {
    announced_[offer];
}

void DataControl::offerType(wl_proxy* offer, const char* type) {
    auto it = announced_.find(offer);
    // KWin names some types twice in one offer; a type is one entry however often it is named.
    if (it != announced_.end() && std::find(it->second.begin(), it->second.end(), type) == it->second.end())
        it->second.emplace_back(type);
}

void DataControl::deviceFinished() {
    // The seat went away: nothing more will be offered on this device.
    binding_->destroyDevice();
}

void DataControl::selectionOffered(Selection selection, wl_proxy* offer) {
    Offer& current = current_[index(selection)];
    if (current.proxy) binding_->destroyOffer(current.proxy);
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
    binding_->receive(offer.proxy, std::string(type).c_str(), fds[1]);
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
    if (connection_.isBroken() || !binding_->hasDevice()) return false;
    // The new source replaces the old one before the old one goes, so the selection is never empty between.
    Source previous = source_[index(selection)];
    wl_proxy* proxy = binding_->createSource(*this, contents);
    source_[index(selection)] = Source{proxy, std::make_shared<const Contents>(std::move(contents))};
    binding_->setSelection(selection, proxy);
    if (previous.proxy) binding_->destroySource(previous.proxy);
    connection_.flush();
    return !connection_.isBroken();
}

void DataControl::dropSource(Selection selection) {
    Source& source = source_[index(selection)];
    if (source.proxy) binding_->destroySource(source.proxy);
    // Writers keep their own reference to the contents and finish what readers already asked for.
    source = Source{};
}

void DataControl::sendRequested(wl_proxy* proxy, const char* type, int fd) {
    for (const Source& source : source_) {
        if (source.proxy != proxy) continue;
        const Contents& contents = *source.contents;
        for (std::size_t i = 0; i < contents.size(); ++i) {
            if (contents[i].first != type) continue;
            startWriter(source.contents, i, fd);
            return;
        }
    }
    close(fd);
}

void DataControl::sourceCancelled(wl_proxy* proxy) {
    for (Selection s : {Selection::Clipboard, Selection::Primary})
        if (source_[index(s)].proxy == proxy) dropSource(s);
}

void DataControl::startWriter(std::shared_ptr<const Contents> contents, std::size_t index, int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto writer = std::make_unique<Writer>(*this, std::move(contents), index, fd);
    if (!writer->writeSome()) return;
    writer->watchUntilDone();
    writers_.push_back(std::move(writer));
}

}  // namespace wayland::internal
