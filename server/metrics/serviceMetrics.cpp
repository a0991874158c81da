#include "metrics/serviceMetrics.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <stdexcept>
#include <unordered_map>

#include "http/pages.h"
#include "log/log.h"
#include "options/commandLine.h"
#include "protocol/requestFields.h"

namespace tonvert::service {

namespace {

using prometheus::Counter;
using prometheus::Histogram;

constexpr std::array kCommands{"signup",     "getnewpwd", "confirm",   "viewfunds",
                               "viewprices", "listmidi",  "delmidi",   "listaudio",
                               "delaudio",   "getaudio",  "submitmidi"};
// A script request naming no command of the protocol, and a path the service does not serve.
constexpr const char* kUnknownCommand = "unknown";
constexpr const char* kOtherRoute = "other";
const std::map<std::string_view, std::string_view> kRoutes{
    {"/", "home"},
    {kStylesheetPath, "style"},
    {"/addfunds.html", "addfunds"},
    {"/upgrade.html", "upgrade"},
    {"/healthz", "healthz"},
    {"/readyz", "readyz"},
};

// From cached passwords (well under a millisecond) to held-back logins and long uploads.
const Histogram::BucketBoundaries kRequestBuckets{
    0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};
const Histogram::BucketBoundaries kRenderBuckets{0.5, 1,   2.5, 5,   10,   30,
                                                 60,  120, 300, 600, 1800, 3600};

std::string_view scriptCommand(const httplib::Request& request) {
    const std::string command = clientField(request, "CMD");
    const auto known = std::find(kCommands.begin(), kCommands.end(), command);
    return known == kCommands.end() ? kUnknownCommand : *known;
}

bool isCode(std::string_view code) {
    return !code.empty() && code.size() <= 4 &&
           std::all_of(code.begin(), code.end(), [](char c) { return std::isdigit(c) != 0; });
}

std::string replyCode(const httplib::Response& response) {
    constexpr std::string_view kError = "!ERR ";
    if (std::string_view(response.body).substr(0, kError.size()) == kError) {
        const std::string_view rest = std::string_view(response.body).substr(kError.size());
        const std::string_view code = rest.substr(0, rest.find_first_not_of("0123456789"));
        return isCode(code) ? std::string(code) : "error";
    }
    return response.status < 400 ? "ok" : "error";
}

} // namespace

RequestLabels requestLabels(const ServedRequest& served) {
    const std::string& path = served.request.path;
    if (path == kScriptPath)
        return {scriptCommand(served.request), replyCode(served.response)};
    const auto route = kRoutes.find(path);
    return {route == kRoutes.end() ? kOtherRoute : route->second, replyCode(served.response)};
}

struct ServiceMetrics::Families {
    Families();

    std::shared_ptr<prometheus::Registry> registry = std::make_shared<prometheus::Registry>();
    prometheus::Family<Counter>& requests;
    // Made for every command at the start: a request finds its own without a lock.
    struct Command {
        Histogram* latency;
        std::uint64_t index;
    };
    std::map<std::string, Command, std::less<>> commands;
    // Tells this registry's counters from those of others in a thread's cache.
    std::uint64_t id = nextId++;
    static inline std::atomic<std::uint64_t> nextId = 0;
    // The counter of a command, code and status.
    Counter& requestCounter(const std::pair<const std::string, Command>& command,
                            std::string_view code, int status);
    prometheus::Family<Counter>& renders;
    Counter& rendersDone;
    Counter& rendersFailed;
    Histogram& renderSeconds;
    Counter& leaseTakeovers;
    Counter& storeErrors;
    prometheus::Family<Counter>& mails;
    Counter& mailsSent;
    Counter& mailsFailed;
};

ServiceMetrics::Families::Families()
    : requests(prometheus::BuildCounter()
                   .Name("tonvert_requests_total")
                   .Help("Requests answered, by command, reply code and HTTP status")
                   .Register(*registry))
    , renders(prometheus::BuildCounter()
                  .Name("tonvert_renders_total")
                  .Help("Renders published (done) and jobs that ended without audio (failed)")
                  .Register(*registry))
    , rendersDone(renders.Add({{"outcome", "done"}}))
    , rendersFailed(renders.Add({{"outcome", "failed"}}))
    , renderSeconds(prometheus::BuildHistogram()
                        .Name("tonvert_render_duration_seconds")
                        .Help("The renderer's time for each render published")
                        .Register(*registry)
                        .Add({}, kRenderBuckets))
    , leaseTakeovers(prometheus::BuildCounter()
                         .Name("tonvert_lease_takeovers_total")
                         .Help("Rendered jobs whose lease ran out and another worker took over")
                         .Register(*registry)
                         .Add({}))
    , storeErrors(prometheus::BuildCounter()
                      .Name("tonvert_store_errors_total")
                      .Help("Operations of the store that failed and were given up or retried")
                      .Register(*registry)
                      .Add({}))
    , mails(prometheus::BuildCounter()
                .Name("tonvert_mails_total")
                .Help("Mails written to the outbox or sent over SMTP, and those that failed")
                .Register(*registry))
    , mailsSent(mails.Add({{"outcome", "sent"}}))
    , mailsFailed(mails.Add({{"outcome", "failed"}})) {
    auto& durations = prometheus::BuildHistogram()
                          .Name("tonvert_request_duration_seconds")
                          .Help("From a request whole in hand to its reply written, by command")
                          .Register(*registry);
    std::vector<std::string_view> names(kCommands.begin(), kCommands.end());
    for (const auto& route : kRoutes)
        names.push_back(route.second);
    names.insert(names.end(), {kUnknownCommand, kOtherRoute});
    for (const std::string_view name : names)
        commands.emplace(name,
                         Command{&durations.Add({{"command", std::string(name)}}, kRequestBuckets),
                                 commands.size()});
}

// Each thread keeps the counters it used: only its first request of a command, code and
// status builds the labels and takes the family's lock.
Counter&
ServiceMetrics::Families::requestCounter(const std::pair<const std::string, Command>& command,
                                         std::string_view code, int status) {
    const std::uint64_t codeKey = code == "ok"      ? 10000
                                  : code == "error" ? 10001
                                                    : std::stoi(std::string(code));
    const std::uint64_t key = id << 32 | command.second.index << 24 | codeKey << 10 |
                              static_cast<std::uint64_t>(std::clamp(status, 0, 1023));
    thread_local std::unordered_map<std::uint64_t, Counter*> cache;
    Counter*& counter = cache[key];
    if (counter == nullptr)
        counter = &requests.Add({{"command", command.first},
                                 {"code", std::string(code)},
                                 {"status", std::to_string(status)}});
    return *counter;
}

ServiceMetrics::ServiceMetrics()
    : families_(std::make_unique<Families>()) {}

ServiceMetrics::~ServiceMetrics() = default;

void ServiceMetrics::requestServed(std::string_view command, std::string_view code, int status,
                                   double seconds) {
    auto known = families_->commands.find(command);
    if (known == families_->commands.end())
        known = families_->commands.find(kOtherRoute);
    families_->requestCounter(*known, code == "ok" || isCode(code) ? code : "error", status)
        .Increment();
    known->second.latency->Observe(seconds);
}

void ServiceMetrics::requestServed(const ServedRequest& served) {
    const RequestLabels labels = requestLabels(served);
    requestServed(labels.command, labels.code, served.response.status,
                  std::chrono::duration<double>(served.duration).count());
}

void ServiceMetrics::renderDone(double seconds) {
    families_->rendersDone.Increment();
    families_->renderSeconds.Observe(seconds);
}

void ServiceMetrics::renderFailed() {
    families_->rendersFailed.Increment();
}

void ServiceMetrics::leaseTakenOver() {
    families_->leaseTakeovers.Increment();
}

void ServiceMetrics::storeError() {
    families_->storeErrors.Increment();
}

void ServiceMetrics::mailSent() {
    families_->mailsSent.Increment();
}

void ServiceMetrics::mailFailed() {
    families_->mailsFailed.Increment();
}

namespace {

// The queue's gauges, read from the store as a scrape collects them: between scrapes nothing
// asks the store. None while no queue is watched.
class QueueGauges final : public prometheus::Collectable {
public:
    explicit QueueGauges(ServiceObserver& observer)
        : observer_(observer)
        , jobs_(prometheus::BuildGauge()
                    .Name("tonvert_queue_jobs")
                    .Help("Records in the render queue, waiting or being rendered")
                    .Register(*registry_))
        , waiting_(jobs_.Add({{"state", "waiting"}}))
        , rendering_(jobs_.Add({{"state", "rendering"}}))
        , oldestWait_(prometheus::BuildGauge()
                          .Name("tonvert_queue_oldest_wait_seconds")
                          .Help("Since the upload of the oldest waiting record; 0 when none waits")
                          .Register(*registry_)
                          .Add({})) {}

    void watch(std::function<QueueState()> queue) {
        const std::lock_guard lock(mutex_);
        queue_ = std::move(queue);
    }

    std::vector<prometheus::MetricFamily> Collect() const override {
        // Held while the store is asked, so that a watch that ends waits for the scrape under
        // way, and what it reads is still there. Only scrapes and the watch take it.
        const std::lock_guard lock(mutex_);
        if (!queue_)
            return {};
        try {
            const QueueState state = queue_();
            waiting_.Set(static_cast<double>(state.waiting));
            rendering_.Set(static_cast<double>(state.rendering));
            oldestWait_.Set(static_cast<double>(state.oldestWaitSeconds));
        } catch (const std::exception& failure) {
            // The gauges keep their last values; the error is counted.
            observer_.storeError();
            logWarning() << "reading the queue for the metrics failed: " << failure.what();
        }
        return registry_->Collect();
    }

private:
    mutable std::mutex mutex_;
    std::function<QueueState()> queue_;
    ServiceObserver& observer_;
    std::unique_ptr<prometheus::Registry> registry_ = std::make_unique<prometheus::Registry>();
    prometheus::Family<prometheus::Gauge>& jobs_;
    prometheus::Gauge& waiting_;
    prometheus::Gauge& rendering_;
    prometheus::Gauge& oldestWait_;
};

} // namespace

struct MetricsEndpoint::State {
    std::shared_ptr<QueueGauges> queue;
    // Last, so that it goes first: no scrape runs once the rest is gone.
    std::unique_ptr<prometheus::Exposer> exposer;
};

MetricsEndpoint::MetricsEndpoint(ServiceMetrics& metrics, const std::string& listen)
    : state_(std::make_unique<State>()) {
    try {
        state_->exposer = std::make_unique<prometheus::Exposer>(hostAndPort(listen), 2);
    } catch (const std::exception& failure) {
        throw std::runtime_error("cannot serve the metrics on " + listen + ": " + failure.what());
    }
    state_->queue = std::make_shared<QueueGauges>(metrics);
    state_->exposer->RegisterCollectable(metrics.families_->registry);
    state_->exposer->RegisterCollectable(state_->queue);
    logInfo() << "metrics on http://" << listen.substr(0, listen.rfind(':')) << ":" << port()
              << "/metrics";
}

MetricsEndpoint::~MetricsEndpoint() = default;

void MetricsEndpoint::watchQueue(std::function<QueueState()> queue) {
    state_->queue->watch(std::move(queue));
}

QueueWatch::QueueWatch(MetricsEndpoint* endpoint, std::function<QueueState()> queue)
    : endpoint_(endpoint) {
    if (endpoint_ != nullptr)
        endpoint_->watchQueue(std::move(queue));
}

QueueWatch::~QueueWatch() {
    if (endpoint_ != nullptr)
        endpoint_->watchQueue({});
}

int MetricsEndpoint::port() const {
    const std::vector<int> ports = state_->exposer->GetListeningPorts();
    return ports.empty() ? 0 : ports.front();
}

} // namespace tonvert::service
