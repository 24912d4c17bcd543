// vekctl metrics: the board's readings in the Prometheus text format, named
// as node_exporter names hardware readings (usable with its textfile collector).
// vekctl serve: the same on /metrics from an embedded HTTP server.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>

#include <civetweb.h>
#include <fmt/core.h>

#include "tools/vekctl/metrics.h"
#include "tools/vekctl/vekctl.h"

namespace vekctl {

namespace {

constexpr double kDefaultMinInterval = 1.0;
constexpr const char* kWorkers = "32";
constexpr const char* kRequestTimeoutMs = "2000";

struct Listen {
    std::string host; // empty: every interface
    bool v6 = false;
    unsigned port = 0;
};

// ":PORT", "HOST:PORT", "[v6]:PORT"; the port 1..65535.
std::optional<Listen> ParseListen(const std::string& s) {
    Listen l;
    size_t colon;
    if (!s.empty() && s[0] == '[') {
        const size_t close = s.find(']');
        if (close == std::string::npos || close + 1 >= s.size() || s[close + 1] != ':') return std::nullopt;
        l.host = s.substr(1, close - 1);
        l.v6 = true;
        colon = close + 1;
        in6_addr addr{};
        if (inet_pton(AF_INET6, l.host.c_str(), &addr) != 1) return std::nullopt;
    } else {
        colon = s.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        l.host = s.substr(0, colon);
        if (l.host.find(':') != std::string::npos) return std::nullopt; // an IPv6 address needs brackets
    }
    const auto port = ParseNumber(s.substr(colon + 1), 1, 65535);
    if (!port) return std::nullopt;
    l.port = unsigned(*port);
    return l;
}

// civetweb's spelling; a host name is resolved to its first IPv4 address.
std::string CivetPorts(const std::string& listen) {
    const Listen l = *ParseListen(listen);
    if (l.v6) return fmt::format("[{}]:{}", l.host, l.port);
    if (l.host.empty()) return fmt::format("{}", l.port);
    in_addr addr{};
    if (inet_pton(AF_INET, l.host.c_str(), &addr) == 1) return fmt::format("{}:{}", l.host, l.port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    std::string ip = l.host;
    if (getaddrinfo(l.host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
        ip = text;
        freeaddrinfo(found);
    }
    return fmt::format("{}:{}", ip, l.port);
}

// Named as node_exporter names hwmon readings: chip and sensor labels, the
// sensor being the lm-sensors feature (temp1, in0, curr1, fan1), and the
// chip's label for it in vek_sensor_label.
struct Family {
    const char* name;
    const char* help;
};
Family FamilyOf(Reading::Kind kind) {
    switch (kind) {
    case Reading::CpuTemperature:
    case Reading::Temperature: return {"vek_temp_celsius", "Temperature of a sensor in degrees Celsius."};
    case Reading::Voltage: return {"vek_in_volts", "Voltage of a monitored rail in volts."};
    case Reading::Current: return {"vek_curr_amperes", "Current of a monitored supply in amperes."};
    case Reading::Fan: return {"vek_fan_rpm", "Speed of a fan in revolutions per minute."};
    }
    return {"", ""};
}

// errorsBefore: failed reads of earlier collections (the counter only grows).
Metrics Collect(const Source& source, uint64_t errorsBefore) {
    const auto start = std::chrono::steady_clock::now();
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
    m.Add("vek_build_info", "The vekctl build that answers.", {{"version", VEK_VERSION_TEXT}}, 1);

    const std::string chip = SensorChip(source);
    const std::vector<Reading> readings = ReadAll();
    for (const Reading& r : readings) {
        if (r.label != r.key)
            m.Add("vek_sensor_label", "The chip's label for a sensor.", {{"chip", chip}, {"sensor", r.key}, {"label", r.label}}, 1);
    }
    for (const Reading& r : readings) {
        if (r.result != VEK_OK) {
            ++m.errors; // absent, never a made-up value
            continue;
        }
        const Family f = FamilyOf(r.kind);
        m.Add(f.name, f.help, {{"chip", chip}, {"sensor", r.key}}, r.value);
    }

    // The running state is what this process knows; a new process cannot read
    // it from the chip, so only the recorded timeout is reported.
    if (const auto recorded = RecordedWatchdog(source)) {
        m.Add("vek_watchdog_timeout_seconds", "The watchdog timeout recorded by 'vekctl wdt config'.", {},
              double(recorded->count) * (recorded->unit ? 60 : 1));
    }
    m.Add("vek_read_errors_total", "Readings that failed, or gave a value no working sensor gives.", {},
          double(errorsBefore + uint64_t(m.errors)), "counter");
    m.Add("vek_scrape_success", "Whether every reading of this collection succeeded.", {}, m.errors ? 0 : 1);
    m.Add("vek_scrape_duration_seconds", "Time this collection took.", {},
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return m;
}

int PrintMetrics(const Global& g, Session& session) {
    if (g.json) return UsageError("metrics prints the Prometheus text format; --json does not apply");
    const Metrics m = Collect(session.source(), 0);
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
    uint64_t errors = 0;

    std::string Get() {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = std::chrono::steady_clock::now();
        if (!have || now - collected >= minInterval) {
            Metrics m = Collect(*source, errors);
            errors += uint64_t(m.errors);
            m.Add("vek_collections_total", "Times the board was read to answer a scrape.", {}, double(++collections),
                  "counter");
            text = m.Text();
            collected = now;
            have = true;
        }
        return text;
    }
};

constexpr const char* kLandingPage =
    "<!DOCTYPE html>\n<html><head><title>vek metrics</title></head>\n"
    "<body><h1>vek metrics</h1><p>The board's readings in the Prometheus text format: "
    "<a href=\"/metrics\">/metrics</a></p></body></html>\n";

int LandingHandler(mg_connection* conn, void*) {
    const mg_request_info* info = mg_get_request_info(conn);
    if (info == nullptr || std::strcmp(info->local_uri, "/") != 0) {
        mg_send_http_error(conn, 404, "%s", "not found; the metrics are on /metrics\n");
        return 404;
    }
    const size_t n = std::strlen(kLandingPage);
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: %zu\r\n"
              "Connection: close\r\n\r\n",
              n);
    mg_write(conn, kLandingPage, n);
    return 200;
}

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
    // Every connection holds a worker until it sends its request or times out:
    // many workers and a short timeout keep idle or slow clients from stalling scrapes.
    // Debian's civetweb may be built without IPv6.
    constexpr unsigned kCivetIpv6 = 8;
    if (ParseListen(a.listen)->v6 && mg_check_feature(kCivetIpv6) == 0) {
        std::fprintf(stderr, "vekctl: cannot listen on %s: this civetweb library was built without IPv6\n", a.listen.c_str());
        return kExitFailed;
    }
    const std::string ports = CivetPorts(a.listen);
    const char* options[] = {"listening_ports", ports.c_str(), "num_threads", kWorkers,
                             "request_timeout_ms", kRequestTimeoutMs, "enable_keep_alive", "no", nullptr};
    mg_callbacks callbacks{};
    mg_context* ctx = mg_start(&callbacks, nullptr, options);
    if (ctx == nullptr) {
        std::fprintf(stderr, "vekctl: cannot listen on %s\n", a.listen.c_str());
        mg_exit_library();
        return kExitFailed;
    }
    mg_set_request_handler(ctx, "/metrics$", MetricsHandler, &server);
    mg_set_request_handler(ctx, "/", LandingHandler, nullptr);
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
    serve->add_option("--listen", args->listen, ":PORT, HOST:PORT or [IPv6]:PORT to listen on")
        ->capture_default_str()
        ->check(CLI::Validator(
            [](std::string& s) -> std::string {
                const auto parsed = ParseListen(s);
                return parsed ? std::string() : "expected :PORT, HOST:PORT or [IPv6]:PORT with a port 1..65535";
            },
            "ADDRESS"));
    serve->add_option("--min-interval", args->minInterval, "seconds between two hardware reads (0.1..3600)")
        ->capture_default_str()
        ->check(SecondsIn(0.1, 3600));
    serve->callback([a = r.action, args] { *a = [args](const Global& g, Session& s) { return Serve(g, s, *args); }; });
}

} // namespace vekctl
