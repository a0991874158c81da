#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/httpListener.h"
#include "metrics/serviceObserver.h"
#include "store/store.h"

namespace tonvert::service {

// What a request is counted under: its command, the protocol's CMD for the client's script
// and the route's name for anything else (one of a fixed set either way: never the raw path
// or field, which a client writes), and its reply code: the protocol's error number of a
// "!ERR" reply, else "ok", or "error" for a failure status.
struct RequestLabels {
    std::string_view command;
    std::string code;
};
RequestLabels requestLabels(const ServedRequest& served);

// The service's metrics, in a registry of the Prometheus client library: the requests by
// command and reply, their latency, the renders, lease takeovers, store errors and mails.
// Counting takes no lock of the service's and no store access.
class ServiceMetrics final : public ServiceObserver {
public:
    ServiceMetrics();
    ~ServiceMetrics() override;
    ServiceMetrics(const ServiceMetrics&) = delete;
    ServiceMetrics& operator=(const ServiceMetrics&) = delete;

    // A command outside the fixed set counts as "other"; a code neither "ok" nor a number of
    // up to four digits as "error".
    void requestServed(std::string_view command, std::string_view code, int status, double seconds);
    void requestServed(const ServedRequest& served);

    void renderDone(double seconds) override;
    void renderFailed() override;
    void leaseTakenOver() override;
    void storeError() override;
    void mailSent() override;
    void mailFailed() override;

    struct Families;

private:
    friend class MetricsEndpoint;
    std::unique_ptr<Families> families_;
};

// Serves the metrics at http://HOST:PORT/metrics, on threads of its own, until it goes. Its
// threads start with the signal mask of the thread that makes it.
class MetricsEndpoint {
public:
    // `listen` is an IP address and a port ("127.0.0.1:9464", "[::1]:9464"); port 0 takes one
    // the system picks. Throws std::runtime_error when it cannot listen there.
    MetricsEndpoint(ServiceMetrics& metrics, const std::string& listen);
    ~MetricsEndpoint();
    MetricsEndpoint(const MetricsEndpoint&) = delete;
    MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

    int port() const;
    // Every scrape from now on asks `queue` (on the scraping thread) for the queue's gauges;
    // none when empty. Returns once no scrape asks the one before any more.
    void watchQueue(std::function<QueueState()> queue);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// While it lives, the endpoint's scrapes read the queue's gauges from `queue`: made after
// what `queue` reads and gone before it. Does nothing without an endpoint.
class QueueWatch {
public:
    QueueWatch(MetricsEndpoint* endpoint, std::function<QueueState()> queue);
    ~QueueWatch();
    QueueWatch(const QueueWatch&) = delete;
    QueueWatch& operator=(const QueueWatch&) = delete;

private:
    MetricsEndpoint* endpoint_;
};

} // namespace tonvert::service
