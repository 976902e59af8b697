// Round trips over the message channel against a minimal echo listener: p50/p99 latency and requests per
// second with 1 and 8 clients. Prints figures; never fails.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "dispatch/SerialQueue.h"
#include "xpc/Connection.h"
#include "xpc/Listener.h"

namespace {

using Clock = std::chrono::steady_clock;

// One client: sends a request, waits for its echo, repeats.
class Client {
  public:
    explicit Client(const std::string& name) {
        connection_ = xpc::Connection::connectToService(name, dispatch::SerialQueue::create("bench.client"));
        connection_->setEventHandler([this](const xpc::Object& event) {
            if (!event.isDictionary()) return;
            std::lock_guard lock(mutex_);
            ++answers_;
            answered_.notify_one();
        });
        connection_->resume();
    }
    ~Client() { connection_->cancel(); }

    std::vector<double> run(int requests, const xpc::Object& request) {
        std::vector<double> micros;
        micros.reserve(static_cast<std::size_t>(requests));
        for (int i = 0; i < requests; ++i) {
            const auto start = Clock::now();
            int before;
            {
                std::lock_guard lock(mutex_);
                before = answers_;
            }
            connection_->send(request);
            std::unique_lock lock(mutex_);
            answered_.wait(lock, [&] { return answers_ > before; });
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        return micros;
    }

  private:
    std::shared_ptr<xpc::Connection> connection_;
    std::mutex mutex_;
    std::condition_variable answered_;
    int answers_ = 0;
};

void measure(const std::string& name, int clients, int requestsEach) {
    xpc::Object request = xpc::Object::dictionary();
    request.set("type", xpc::Object::string("IsPermissionGranted"));
    std::vector<std::unique_ptr<Client>> pool;
    for (int i = 0; i < clients; ++i) pool.push_back(std::make_unique<Client>(name));
    // Warm up every connection.
    for (auto& client : pool) client->run(50, request);

    std::vector<std::vector<double>> results(static_cast<std::size_t>(clients));
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            results[static_cast<std::size_t>(i)] =
                pool[static_cast<std::size_t>(i)]->run(requestsEach, request);
        });
    }
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& result : results) all.insert(all.end(), result.begin(), result.end());
    std::sort(all.begin(), all.end());
    auto percentile = [&](double p) {
        return all[static_cast<std::size_t>(p * static_cast<double>(all.size() - 1))];
    };
    std::printf("clients=%d requests=%zu  round trip p50=%.1f us p99=%.1f us  throughput=%.0f requests/s\n",
                clients, all.size(), percentile(0.50), percentile(0.99),
                static_cast<double>(all.size()) / seconds);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/xpc-bench-XXXXXX";
    const std::string runtime = ::mkdtemp(pattern);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string name = "com.tandrel.bench";
    auto serviceQueue = dispatch::SerialQueue::create("bench.service");
    auto listener = xpc::Listener::create(name, serviceQueue);
    if (!listener) return 1;
    listener->setConnectionHandler([serviceQueue](std::shared_ptr<xpc::Connection> connection) {
        connection->setTargetQueue(serviceQueue);
        std::weak_ptr<xpc::Connection> weak = connection;
        connection->setEventHandler([weak](const xpc::Object& event) {
            if (auto self = weak.lock(); self && event.isDictionary()) self->send(event);
        });
        connection->resume();
    });
    listener->resume();
    measure(name, 1, 20000);
    measure(name, 8, 5000);
    serviceQueue->sync([&] { listener.reset(); });
    std::filesystem::remove_all(runtime);
    return 0;
}
