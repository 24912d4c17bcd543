// vekctl metrics: the board's readings in the Prometheus text format, named
// as node_exporter names hardware readings (usable with its textfile collector).
// vekctl serve: the same on /metrics from an embedded HTTP server.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include <civetweb.h>
#include <fmt/core.h>

#include "tools/vekctl/metrics.h"
#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr double kDefaultMinInterval = 1.0;

Metrics Collect(const Source& source) {
    Metrics m;
    char text[80] = {};
    std::vector<std::pair<std::string, std::string>> labels = {{"board", source.board}};
    const std::pair<const char*, VEK_RESULT (*)(char*)> identity[] = {
        {"bios_vendor", VEK_Board_GetBIOSVendor},
        {"bios_version", VEK_Board_GetBIOSVersion},
        {"library_version", VEK_API_GetVersion},
    };
    for (const auto& [name, read] : identity) {
        text[0] = '\0';
        const VEK_RESULT r = read(text);
        labels.emplace_back(name, r == VEK_OK ? text : "");
        if (r != VEK_OK) ++m.errors;
    }
    labels.emplace_back("source", source.simulated ? "simulator" : "hardware");
    m.Add("vek_info", "Board identity as the vek library reports it.", labels, 1);

    for (const Reading& r : ReadAll()) {
        if (r.result != VEK_OK) {
            ++m.errors;
            continue;
        }
        switch (r.kind) {
        case Reading::CpuTemperature:
            m.Add("vek_temperature_celsius", "Temperature of a sensor.", {{"sensor", fmt::format("cpu{}", r.index)}}, r.value);
            break;
        case Reading::Temperature:
            m.Add("vek_temperature_celsius", "Temperature of a sensor.", {{"sensor", fmt::format("temp{}", r.index)}}, r.value);
            break;
        case Reading::Voltage:
            m.Add("vek_voltage_volts", "Voltage of a monitored rail.", {{"sensor", fmt::format("in{}", r.index)}}, r.value);
            break;
        case Reading::Current:
            m.Add("vek_current_amperes", "Current of a monitored supply.", {{"sensor", fmt::format("curr{}", r.index + 1)}}, r.value);
            break;
        case Reading::Fan:
            m.Add("vek_fan_speed_rpm", "Speed of a fan.", {{"fan", fmt::format("fan{}", r.index + 1)}}, r.value);
            break;
        }
    }

    const VEK_RESULT avail = VEK_WDT_Available();
    if (avail == VEK_OK || avail == VEK_ERR_STATE) {
        m.Add("vek_watchdog_running", "Whether the watchdog counts down (1) or is stopped (0).", {}, avail == VEK_OK ? 1 : 0);
        uint32_t unit = 0;
        uint8_t count = 0;
        if (VEK_WDT_GetConfig(&unit, &count) == VEK_OK)
            m.Add("vek_watchdog_timeout_seconds", "The watchdog's stored timeout.", {}, double(count) * (unit ? 60 : 1));
        else ++m.errors;
    } else if (avail != VEK_ERR_UNSUPPORTED) {
        ++m.errors;
    }
    m.Add("vek_read_errors", "Readings that failed in this collection.", {}, m.errors);
    return m;
}

int PrintMetrics(const Global& g, Session& session) {
    if (g.json) return UsageError("metrics prints the Prometheus text format; --json does not apply");
    const Metrics m = Collect(session.source());
    if (session.source().simulated)
        fmt::print("# vek: simulated board {} (vek-sim), not this machine's hardware\n", session.source().board);
    fmt::print("{}", m.Text());
    return m.errors ? kExitFailed : kExitOk;
}

// One cached collection, refreshed by a scrape at most every minInterval so a
// fast scraper cannot keep the hardware lock busy.
struct Server {
    Server(const Source* s, double interval) : source(s), minInterval(interval) {}
    const Source* source;
    std::chrono::duration<double> minInterval;
    std::mutex mutex;
    std::string text;
    std::chrono::steady_clock::time_point collected{};
    bool have = false;
    uint64_t collections = 0;

    std::string Get() {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = std::chrono::steady_clock::now();
        if (!have || now - collected >= minInterval) {
            Metrics m = Collect(*source);
            m.Add("vek_collections_total", "Times the board was read to answer a scrape.", {}, double(++collections),
                  "counter");
            text = m.Text();
            collected = now;
            have = true;
        }
        return text;
    }
};

int MetricsHandler(mg_connection* conn, void* data) {
    const std::string body = static_cast<Server*>(data)->Get();
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
              "Content-Length: %zu\r\nConnection: close\r\n\r\n",
              body.size());
    mg_write(conn, body.data(), body.size());
    return 200;
}

struct ServeArgs {
    std::string listen = "127.0.0.1:9842";
    double minInterval = kDefaultMinInterval;
};

int Serve(const Global& g, Session& session, const ServeArgs& a) {
    if (g.json) return UsageError("serve speaks the Prometheus text format; --json does not apply");
    // Worker threads inherit the mask; the main thread waits for the signal.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    Server server(&session.source(), a.minInterval);
    mg_init_library(0);
    const char* options[] = {"listening_ports", a.listen.c_str(), "num_threads", "2", nullptr};
    mg_callbacks callbacks{};
    mg_context* ctx = mg_start(&callbacks, nullptr, options);
    if (ctx == nullptr) {
        std::fprintf(stderr, "vekctl: cannot listen on %s\n", a.listen.c_str());
        mg_exit_library();
        return kExitFailed;
    }
    mg_set_request_handler(ctx, "/metrics", MetricsHandler, &server);
    std::fprintf(stderr, "vekctl: serving %s metrics on http://%s/metrics (refresh at most every %gs)%s\n",
                 session.source().board.c_str(), a.listen.c_str(), a.minInterval,
                 session.source().simulated ? " — simulated board" : "");
    int signal = 0;
    sigwait(&stop, &signal);
    mg_stop(ctx);
    mg_exit_library();
    return kExitOk;
}

} // namespace

void AddMetrics(Registry& r) {
    r.app.add_subcommand("metrics", "readings in the Prometheus text format (node_exporter textfile collector)")
        ->callback([a = r.action] { *a = PrintMetrics; });
    auto args = std::make_shared<ServeArgs>();
    CLI::App* serve = r.app.add_subcommand("serve", "serve the metrics over HTTP on /metrics");
    serve->add_option("--listen", args->listen, "HOST:PORT to listen on")
        ->capture_default_str()
        ->check(CLI::Validator(
            [](std::string& s) -> std::string {
                const size_t colon = s.rfind(':');
                if (colon == std::string::npos || colon == 0 || colon + 1 == s.size()) return "expected HOST:PORT";
                for (size_t i = colon + 1; i < s.size(); ++i)
                    if (s[i] < '0' || s[i] > '9') return "expected HOST:PORT";
                const unsigned long port = std::stoul(s.substr(colon + 1));
                return port >= 1 && port <= 65535 ? std::string() : "port out of 1..65535";
            },
            "HOST:PORT"));
    serve->add_option("--min-interval", args->minInterval, "seconds between two hardware reads")
        ->capture_default_str()
        ->check(CLI::Range(0.1, 3600.0));
    serve->callback([a = r.action, args] { *a = [args](const Global& g, Session& s) { return Serve(g, s, *args); }; });
}

} // namespace vekctl
