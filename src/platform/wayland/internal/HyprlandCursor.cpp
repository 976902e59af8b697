#include "platform/wayland/internal/HyprlandCursor.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "dispatch/internal/UniqueFd.h"

namespace wayland::internal {

namespace {

using dispatch::internal::UniqueFd;
using Json = nlohmann::json;

// Both answers are a few hundred bytes per output; anything far larger is not one of them.
constexpr std::size_t kMaxAnswer = 1 << 20;

bool isSocket(const std::string& path) {
    struct stat status {};
    return path.size() < sizeof(sockaddr_un::sun_path) && stat(path.c_str(), &status) == 0 &&
           S_ISSOCK(status.st_mode);
}

// Milliseconds left until `deadline`, rounded up so that a wait never ends just before it.
int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= left.zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Whether `fd` became ready for `events` before `deadline`.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const int left = millisecondsLeft(deadline);
        if (left == 0) return false;
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, left);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

bool isNumber(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number();
}

// What to say about an answer that is not the expected one: its start, on one line.
std::string quoted(const std::string& answer) {
    std::string shown = answer.substr(0, 80);
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    return "\"" + shown + (answer.size() > shown.size() ? "...\"" : "\"");
}

std::optional<std::pair<double, double>> parseCursor(const std::string& answer) {
    const Json json = Json::parse(answer, nullptr, false);
    if (!json.is_object() || !isNumber(json, "x") || !isNumber(json, "y")) return std::nullopt;
    return std::pair{json["x"].get<double>(), json["y"].get<double>()};
}

// The logical height of the output at the layout's origin, else of the first output. Hyprland gives an
// output's mode in pixels and places outputs by their scaled and rotated size.
std::optional<double> parseOriginHeight(const std::string& answer) {
    const Json json = Json::parse(answer, nullptr, false);
    if (!json.is_array() || json.empty()) return std::nullopt;
    for (const Json& output : json) {
        if (!output.is_object()) return std::nullopt;
        for (const char* key : {"x", "y", "width", "height", "scale"})
            if (!isNumber(output, key)) return std::nullopt;
        if (output["scale"].get<double>() <= 0) return std::nullopt;
    }
    auto origin = std::find_if(json.begin(), json.end(), [](const Json& output) {
        return output["x"].get<double>() == 0 && output["y"].get<double>() == 0;
    });
    if (origin == json.end()) origin = json.begin();
    // Odd transforms turn the output by 90 or 270 degrees.
    const auto transform = origin->find("transform");
    const bool turned = transform != origin->end() && transform->is_number_integer() &&
                        transform->get<std::int64_t>() % 2 != 0;
    return (*origin)[turned ? "width" : "height"].get<double>() / (*origin)["scale"].get<double>();
}

}  // namespace

std::unique_ptr<HyprlandCursor> HyprlandCursor::create(std::string* why) {
    const char* signature = std::getenv("HYPRLAND_INSTANCE_SIGNATURE");
    if (!signature || !*signature) {
        if (why) *why = "HYPRLAND_INSTANCE_SIGNATURE is not set";
        return nullptr;
    }
    // The signature is a directory name; anything else would send the request elsewhere.
    const std::string name = signature;
    if (name.find('/') != std::string::npos || name == "." || name == "..") {
        if (why) *why = "HYPRLAND_INSTANCE_SIGNATURE \"" + name + "\" is no directory name";
        return nullptr;
    }
    std::string tried;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    for (const char* base : {runtime && *runtime ? runtime : nullptr, "/tmp"}) {
        if (!base) continue;
        const std::string path = std::string(base) + "/hypr/" + name + "/.socket.sock";
        if (isSocket(path)) return std::unique_ptr<HyprlandCursor>(new HyprlandCursor(path));
        tried += (tried.empty() ? "" : " nor ") + path;
    }
    if (why) *why = "no Hyprland socket at " + tried;
    return nullptr;
}

std::optional<std::string> HyprlandCursor::request(const std::string& command, Deadline deadline,
                                                   std::string* why) const {
    const auto fail = [&](const std::string& what) -> std::optional<std::string> {
        if (why) *why = "Hyprland's socket, " + command + ": " + what;
        return std::nullopt;
    };
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return fail(std::strerror(errno));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    // A full backlog refuses a non-blocking connection at once; Hyprland empties it between frames.
    while (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EAGAIN && errno != EINTR) return fail(std::strerror(errno));
        if (millisecondsLeft(deadline) == 0) return fail("no connection in time");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::size_t sent = 0; sent < command.size();) {
        const ssize_t written = send(fd.get(), command.data() + sent, command.size() - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(fd.get(), POLLOUT, deadline)) return fail("the request was not taken in time");
        } else {
            return fail(std::strerror(errno));
        }
    }
    // The answer ends where Hyprland closes the connection, or, should it keep it open, where the JSON does.
    std::string answer;
    char buffer[4096];
    for (;;) {
        const ssize_t received = recv(fd.get(), buffer, sizeof buffer, 0);
        if (received == 0) return answer;
        if (received > 0) {
            answer.append(buffer, static_cast<std::size_t>(received));
            if (answer.size() > kMaxAnswer) return fail("an answer of more than 1 MiB");
            if (Json::accept(answer)) return answer;
        } else if (errno == EAGAIN || errno == EINTR) {
            if (!waitFor(fd.get(), POLLIN, deadline)) return fail("no answer in time");
        } else {
            return fail(std::strerror(errno));
        }
    }
}

std::optional<PointerProbe::Position> HyprlandCursor::locate(std::chrono::milliseconds timeout,
                                                             std::string* why) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto cursorAnswer = request("j/cursorpos", deadline, why);
    if (!cursorAnswer) return std::nullopt;
    const auto cursor = parseCursor(*cursorAnswer);
    if (!cursor) {
        if (why) *why = "Hyprland answered " + quoted(*cursorAnswer) + " to j/cursorpos";
        return std::nullopt;
    }
    const auto outputsAnswer = request("j/monitors", deadline, why);
    if (!outputsAnswer) return std::nullopt;
    const auto height = parseOriginHeight(*outputsAnswer);
    if (!height) {
        if (why) *why = "Hyprland answered " + quoted(*outputsAnswer) + " to j/monitors";
        return std::nullopt;
    }
    return PointerProbe::Position{cursor->first, cursor->second, *height};
}

}  // namespace wayland::internal
