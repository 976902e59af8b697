#include "platform/wayland/internal/PointerProbe.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "platform/wayland/internal/Protocols.h"

namespace wayland::internal {

namespace {

// One output's overlay for one `locate` call; destroyed with it.
struct Overlay {
    wl_output* output = nullptr;
    zxdg_output_v1* place = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    wl_buffer* buffer = nullptr;
    wl_shm* shm = nullptr;
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    bool failed = false;

    ~Overlay() {
        if (buffer) wl_buffer_destroy(buffer);
        if (layer) zwlr_layer_surface_v1_destroy(layer);
        if (surface) wl_surface_destroy(surface);
        if (place) zxdg_output_v1_destroy(place);
    }

    // A fully transparent buffer of the configured size (fresh memory is zero: transparent ARGB).
    void attachTransparent(std::uint32_t w, std::uint32_t h) {
        const std::size_t stride = std::size_t{w} * 4, size = stride * h;
        int fd = memfd_create("tandrel-overlay", MFD_CLOEXEC);
        if (fd < 0 || size == 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
            if (fd >= 0) close(fd);
            failed = true;
            return;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
        buffer =
            wl_shm_pool_create_buffer(pool, 0, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                                      static_cast<std::int32_t>(stride), WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        wl_surface_attach(surface, buffer, 0, 0);
        wl_surface_commit(surface);
    }
};

struct Entry {
    wl_surface* surface = nullptr;
    double x = 0, y = 0;
};

const wl_pointer_listener kPointerListener = {
    .enter =
        [](void* data, wl_pointer*, std::uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
            auto* entry = static_cast<Entry*>(data);
            if (entry->surface) return;
            *entry = Entry{surface, wl_fixed_to_double(x), wl_fixed_to_double(y)};
        },
    .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
    .motion = [](void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
    .button = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    .frame = nullptr,
    .axis_source = nullptr,
    .axis_stop = nullptr,
    .axis_discrete = nullptr,
    .axis_value120 = nullptr,
};

const zxdg_output_v1_listener kPlaceListener = {
    .logical_position =
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
            static_cast<Overlay*>(data)->x = x;
            static_cast<Overlay*>(data)->y = y;
        },
    .logical_size =
        [](void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
            static_cast<Overlay*>(data)->width = width;
            static_cast<Overlay*>(data)->height = height;
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void*, zxdg_output_v1*, const char*) {},
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

const zwlr_layer_surface_v1_listener kLayerListener = {
    .configure =
        [](void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
           std::uint32_t height) {
            auto* overlay = static_cast<Overlay*>(data);
            zwlr_layer_surface_v1_ack_configure(layer, serial);
            if (!overlay->buffer) overlay->attachTransparent(width, height);
            if (overlay->width == 0) {
                overlay->width = static_cast<std::int32_t>(width);
                overlay->height = static_cast<std::int32_t>(height);
            }
        },
    .closed = [](void* data, zwlr_layer_surface_v1*) { static_cast<Overlay*>(data)->failed = true; },
};

constexpr std::uint32_t kOverlayLayer = ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY;
constexpr std::uint32_t kAllEdges = ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;

}  // namespace

std::unique_ptr<PointerProbe> PointerProbe::create(Connection& connection, std::string* why) {
    if (!connection.layerShell() || !connection.compositor() || !connection.shm()) {
        if (why) *why = "the compositor offers no layer shell (zwlr_layer_shell_v1)";
        return nullptr;
    }
    return std::unique_ptr<PointerProbe>(new PointerProbe(connection));
}

std::optional<PointerProbe::Position> PointerProbe::locate(std::chrono::milliseconds timeout) {
    if (connection_.isBroken() || !(connection_.seatCapabilities() & WL_SEAT_CAPABILITY_POINTER))
        return std::nullopt;
    Entry entry;
    wl_pointer* pointer = wl_seat_get_pointer(connection_.seat());
    wl_pointer_add_listener(pointer, &kPointerListener, &entry);

    std::vector<std::unique_ptr<Overlay>> overlays;
    for (wl_output* output : connection_.outputs()) {
        auto overlay = std::make_unique<Overlay>();
        overlay->output = output;
        overlay->shm = connection_.shm();
        if (connection_.outputManager()) {
            overlay->place = zxdg_output_manager_v1_get_xdg_output(connection_.outputManager(), output);
            zxdg_output_v1_add_listener(overlay->place, &kPlaceListener, overlay.get());
        }
        overlay->surface = wl_compositor_create_surface(connection_.compositor());
        overlay->layer = zwlr_layer_shell_v1_get_layer_surface(connection_.layerShell(), overlay->surface,
                                                               output, kOverlayLayer, "tandrel-pointer");
        zwlr_layer_surface_v1_add_listener(overlay->layer, &kLayerListener, overlay.get());
        zwlr_layer_surface_v1_set_anchor(overlay->layer, kAllEdges);
        zwlr_layer_surface_v1_set_size(overlay->layer, 0, 0);
        zwlr_layer_surface_v1_set_exclusive_zone(overlay->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(overlay->layer, 0);
        wl_surface_commit(overlay->surface);
        overlays.push_back(std::move(overlay));
    }

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    connection_.flush();
    while (!entry.surface && !connection_.isBroken()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{connection_.fd(), POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) > 0) connection_.dispatchAvailable();
    }

    std::optional<Position> found;
    const Overlay* primary = overlays.empty() ? nullptr : overlays.front().get();
    for (const auto& overlay : overlays) {
        if (overlay->x == 0 && overlay->y == 0) primary = overlay.get();
        if (entry.surface && overlay->surface == entry.surface)
            found = Position{overlay->x + entry.x, overlay->y + entry.y, 0};
    }
    if (found && primary) found->primaryHeight = primary->height;
    // Gone at once, and known to be gone before the caller answers anyone: the compositor reads its clients
    // in no particular order, so a click that follows the answer could otherwise still meet an overlay.
    overlays.clear();
    wl_pointer_destroy(pointer);
    connection_.roundtrip();
    return found;
}

}  // namespace wayland::internal
