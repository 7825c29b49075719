#include "ExporterCommands.hpp"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <signal.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Exposition.hpp"
#include "Output.hpp"
#include "Usage.hpp"
#include "WebConfig.hpp"
#include "common/CommandLine.hpp"
#include "common/RouteMonitor.hpp"
#include "quillo/platform/Io.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/widget/Format.hpp"

namespace quillo::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A listening address: "127.0.0.1:9089", "[::1]:9089", "0.0.0.0:9089".
struct Address {
    sockaddr_storage storage{};
    bool v6 = false;
    std::string text;
    std::string given;      // what --listen said
    bool oneOfTwo = false;  // of a name for both families: the other may do alone
};

Address parseAddress(const std::string& text) {
    Address a;
    a.text = a.given = text;
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        throw UsageError("--listen takes ADDRESS:PORT, not '" + visibleText(text) + "'");
    std::string host = text.substr(0, colon);
    const auto port = parseUnsigned(std::string_view(text).substr(colon + 1));
    if (!port || *port > 65535)
        throw UsageError("--listen: '" + visibleText(text) + "' has no port from 0 to 65535");
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(std::uint16_t(*port));
        a.v6 = ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &in6->sin6_addr) == 1;
        if (!a.v6) throw UsageError("--listen: '" + visibleText(text) + "' is no IPv6 address");
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&a.storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(std::uint16_t(*port));
        if (::inet_pton(AF_INET, host.c_str(), &in4->sin_addr) != 1)
            throw UsageError("--listen: '" + visibleText(text) + "' is no IPv4 address");
    }
    return a;
}

// What --listen takes, as node_exporter takes it: ADDRESS:PORT, or :PORT for every
// address and localhost:PORT for the loopback ones, each in both families where the
// machine has them.
std::vector<Address> parseListen(const std::string& text) {
    const auto colon = text.rfind(':');
    const std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? "" : text.substr(colon);
    if (host.empty() || host == "localhost") {
        std::vector<Address> both;
        const char* const wildcard[] = {"0.0.0.0", "[::]"};
        const char* const loopback[] = {"127.0.0.1", "[::1]"};
        for (const char* h : host.empty() ? wildcard : loopback) {
            both.push_back(parseAddress(h + port));
            both.back().given = text;
            both.back().oneOfTwo = true;
        }
        return both;
    }
    return {parseAddress(text)};
}

// What the server keeps between scrapes, shared by its listeners' threads.
struct Server {
    Server(LinuxPlatform& platform, const WebConfig& web)
        : sampler(platform),
          cpuClock(platform),
          users(web.users),
          clientAuth(web.tls ? web.tls->clientAuth : ClientAuth::none) {
        const Sample start = sampler.take();
        known = {start.ipv4, start.ipv6};
        cpuLater = start.cpu.times;
    }

    // Reads the machine; the routing tables only after the kernel said they changed.
    Sample scrape() {
        const bool routesChanged = routes.drain();
        Sample now = sampler.take(routesChanged ? nullptr : &known);
        if (routesChanged) known = {now.ipv4, now.ipv6};
        now.cpu.usedRatio = cpuRatio();
        return now;
    }

    // The CPU's use is measured on the exporter's own clock, once a second, so that every
    // scraper (two Prometheus replicas, a person with curl) sees the same figure over the
    // last full second, whenever and however often it asks.
    void sampleCpu() {
        const auto now = cpuClock.startInterval();
        std::lock_guard lock(cpuMutex);
        cpuEarlier = std::exchange(cpuLater, now);
    }
    std::optional<double> cpuRatio() {
        std::lock_guard lock(cpuMutex);
        if (!cpuEarlier || !cpuLater) return std::nullopt;
        return cpuUsedRatio(*cpuEarlier, *cpuLater);
    }
    static constexpr auto cpuInterval = std::chrono::seconds(1);

    Sampler sampler;      // scrapes, one at a time
    Sampler cpuClock;     // the reaper's once a second
    RouteMonitor routes;  // subscribed before the first read, so no change slips between
    std::mutex scraping;
    LinuxPlatform::DefaultRoutes known;
    std::mutex cpuMutex;
    std::optional<CpuTimes> cpuEarlier, cpuLater;

    // Every connection gets a deadline for its next request: an idle one, or one that
    // sends its request a byte at a time, cannot hold a place for long.
    struct Watched {
        int fd;
        Clock::time_point deadline;
    };
    std::mutex connectionsMutex;
    std::map<MHD_Connection*, Watched> connections;
    static constexpr auto requestTime = std::chrono::seconds(10);
    // No one address may hold more than this, so that a client opening thousands of idle
    // connections cannot keep a scraper at another address waiting.
    static constexpr unsigned perAddressLimit = 32;

    BasicAuth users;
    ClientAuth clientAuth;
};

MHD_Result respond(MHD_Connection* connection, unsigned status, const std::string& body,
                   const char* type, const char* allow = nullptr) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (allow) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// Whether the request's lengths frame it: every Content-Length field, and every value
// in a list, the same decimal number. Otherwise the message is invalid (RFC 9112, 6.3):
// a request smuggled behind a proxy that reads another length than this server.
bool lengthsAgree(MHD_Connection* connection) {
    std::optional<std::string_view> agreed;
    bool valid = true;
    const auto check = [&](std::string_view values) {
        for (;;) {
            const std::size_t comma = values.find(',');
            const std::string_view value = trim(values.substr(0, comma));
            if (value.empty() || !parseUnsigned(value) || (agreed && *agreed != value)) {
                valid = false;
                return;
            }
            agreed = value;
            if (comma == std::string_view::npos) return;
            values.remove_prefix(comma + 1);
        }
    };
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) {
            if (value && strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0)
                (*static_cast<decltype(check)*>(cls))(value);
            return MHD_YES;
        },
        const_cast<void*>(static_cast<const void*>(&check)));
    return valid;
}

// Whether the client's certificate is what client_auth_type asks for. MHD asks every
// client for one once it has authorities to name; the verdict is given here.
bool certificateAccepted(MHD_Connection* connection, ClientAuth wanted) {
    if (wanted == ClientAuth::none || wanted == ClientAuth::request) return true;
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (!info) return false;
    const auto session = static_cast<gnutls_session_t>(info->tls_session);
    unsigned count = 0;
    const bool given = gnutls_certificate_get_peers(session, &count) && count > 0;
    if (!given) return wanted == ClientAuth::verifyIfGiven;
    if (wanted == ClientAuth::requireAny) return true;
    unsigned status = 0;
    return gnutls_certificate_verify_peers2(session, &status) == GNUTLS_E_SUCCESS && status == 0;
}

MHD_Result refuseUnknown(MHD_Connection* connection) {
    MHD_Response* response = MHD_create_response_from_buffer(
        13, const_cast<char*>("Unauthorized\n"), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    const MHD_Result queued = MHD_queue_basic_auth_fail_response(connection, "quillo", response);
    MHD_destroy_response(response);
    return queued;
}

bool passwordAccepted(MHD_Connection* connection, BasicAuth& users) {
    if (!users.required()) return true;
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    const bool ok = user && password && users.allows(user, password);
    if (password) {
        ::explicit_bzero(password, std::strlen(password));
        MHD_free(password);
    }
    if (user) MHD_free(user);
    return ok;
}

MHD_Result handle(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** context) {
    auto& server = *static_cast<Server*>(cls);
    if (*context == nullptr && !lengthsAgree(connection))
        return respond(connection, MHD_HTTP_BAD_REQUEST, "Conflicting Content-Length.\n",
                       "text/plain; charset=utf-8");
    // Who may ask is settled on the headers, before anything else is said.
    if (*context == nullptr && !certificateAccepted(connection, server.clientAuth))
        return respond(connection, MHD_HTTP_FORBIDDEN,
                       "A client certificate from the configured authorities is needed.\n",
                       "text/plain; charset=utf-8");
    if (*context == nullptr && !passwordAccepted(connection, server.users))
        return refuseUnknown(connection);
    const bool readable = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                          std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    // Other methods are refused at once, on the headers, without reading a body; MHD then
    // closes the connection, which is what a client sending one deserves.
    if (!readable)
        return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD.\n",
                       "text/plain; charset=utf-8", "GET, HEAD");
    // A GET is answered on the call that follows its headers, so the connection stays
    // open for the next scrape; a body it should not have is dropped unread.
    if (*context == nullptr || *uploadSize != 0) {
        *context = &server;
        *uploadSize = 0;
        return MHD_YES;
    }
    if (std::strcmp(url, "/metrics") == 0) {
        const ExpositionFormat format = negotiate(
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT));
        std::string body;
        {
            std::lock_guard lock(server.scraping);
            body = exposition(server.scrape(), format);
        }
        return respond(connection, MHD_HTTP_OK, body, contentType(format));
    }
    if (std::strcmp(url, "/") == 0) {
        return respond(connection, MHD_HTTP_OK,
                       "<!DOCTYPE html>\n<html><head><title>Quillo exporter</title></head><body>\n"
                       "<h1>Quillo exporter</h1>\n<p>This machine's figures for Prometheus: "
                       "<a href=\"/metrics\">/metrics</a>.</p>\n</body></html>\n",
                       "text/html; charset=utf-8");
    }
    return respond(connection, MHD_HTTP_NOT_FOUND, "Not found: try /metrics.\n",
                   "text/plain; charset=utf-8");
}

void connectionChanged(void* cls, MHD_Connection* connection, void**,
                       MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<Server*>(cls);
    std::lock_guard lock(server.connectionsMutex);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info)
            server.connections[connection] = {info->connect_fd, Clock::now() + Server::requestTime};
    } else {
        // MHD says so before it closes the socket, so the reaper never touches a reused one.
        server.connections.erase(connection);
    }
}

void requestCompleted(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    auto& server = *static_cast<Server*>(cls);
    std::lock_guard lock(server.connectionsMutex);
    if (const auto it = server.connections.find(connection); it != server.connections.end())
        it->second.deadline = Clock::now() + Server::requestTime;
}

// Room for as many connections as the server allows, where the system lets it.
void raiseDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

std::string urlOf(const Address& a, MHD_Daemon* daemon, bool tls) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    const std::string port = std::to_string(info ? info->port : 0);
    std::string host = a.text.substr(0, a.text.rfind(':'));
    return (tls ? "https://" : "http://") + host + ":" + port + "/metrics";
}

}  // namespace

CLI::App* addMetricsCommand(CLI::App& app, MetricsOptions& options) {
    auto* command =
        app.add_subcommand("metrics", "Print every figure once in the Prometheus text format");
    command->add_option("--interval", options.interval, "seconds over which the CPU is measured")
        ->capture_default_str()
        ->transform(finiteRange(0.0, 3600.0));
    return command;
}

CLI::App* addServeCommand(CLI::App& app, ServeOptions& options) {
    auto* command =
        app.add_subcommand("serve", "Serve every figure to Prometheus over HTTP, at /metrics");
    command->add_option("--listen", options.listen,
                        "ADDRESS:PORT to listen on (:PORT for every address, localhost:PORT for "
                        "the loopback ones), repeatable; 127.0.0.1 and [::1] on port " +
                            std::to_string(defaultExporterPort) + " unless given");
    command->add_option("--web-config", options.webConfig,
                        "YAML file with TLS and basic auth, as Prometheus exporters take it");
    return command;
}

int runMetrics(const MetricsOptions& options, LinuxPlatform& platform) {
    Sampler sampler(platform);
    sampler.startInterval();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.interval));
    writeOutput(exposition(sampler.take(), ExpositionFormat::text));
    return 0;
}

int runServe(const ServeOptions& options, LinuxPlatform& platform) {
    const WebConfig web =
        options.webConfig.empty() ? WebConfig{} : loadWebConfig(options.webConfig);
    std::vector<Address> addresses;
    const bool defaults = options.listen.empty();
    if (defaults) {
        for (const char* host : {"127.0.0.1", "[::1]"})
            addresses.push_back(
                parseAddress(std::string(host) + ":" + std::to_string(defaultExporterPort)));
    }
    for (const std::string& text : options.listen) {
        for (Address& a : parseListen(text)) addresses.push_back(std::move(a));
    }

    // The threads the server starts inherit a mask that leaves the stop signals to this one.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit(4096);

    Server server(platform, web);
    std::vector<MHD_Daemon*> daemons;
    std::vector<std::string> urls;
    std::set<std::string> served;  // the --listen texts with a socket
    int failure = 0;
    for (const Address& a : addresses) {
        // Options MHD ends at the first MHD_OPTION_END: without TLS its options are left out.
        const WebConfig::Tls* tls = web.tls ? &*web.tls : nullptr;
        const MHD_OptionItem tlsOptions[] = {
            {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
             tls ? const_cast<char*>(tls->certPem.c_str()) : nullptr},
            {MHD_OPTION_HTTPS_MEM_KEY, 0, tls ? const_cast<char*>(tls->keyPem.c_str()) : nullptr},
            {MHD_OPTION_HTTPS_PRIORITIES, 0,
             tls ? const_cast<char*>(tls->priorities.c_str()) : nullptr},
            {tls && !tls->clientCaPem.empty() ? MHD_OPTION_HTTPS_MEM_TRUST : MHD_OPTION_END, 0,
             tls ? const_cast<char*>(tls->clientCaPem.c_str()) : nullptr},
            {MHD_OPTION_END, 0, nullptr}};
        MHD_Daemon* daemon = MHD_start_daemon(
            MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | (a.v6 ? MHD_USE_IPv6 : 0) |
                (tls ? MHD_USE_TLS : 0),
            0, nullptr, nullptr, &handle, &server, MHD_OPTION_ARRAY, tlsOptions,
            MHD_OPTION_SOCK_ADDR, reinterpret_cast<const sockaddr*>(&a.storage),
            MHD_OPTION_CONNECTION_LIMIT, 1024u, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
            Server::perAddressLimit,
            // HTTP/1.1 as the standard has it: no Host, or conflicting lengths, is a 400.
            MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_CONNECTION_TIMEOUT, 10u,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, std::size_t(32 * 1024),
            MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024u, MHD_OPTION_NOTIFY_CONNECTION, &connectionChanged,
            &server, MHD_OPTION_NOTIFY_COMPLETED, &requestCompleted, &server, MHD_OPTION_END);
        if (!daemon) {
            // Either family of a name is a wish: a machine without IPv6 keeps the other.
            if (defaults || a.oneOfTwo) {
                failure = errno;
                continue;
            }
            std::fprintf(stderr, "quillo: cannot listen on %s: %s\n", visibleText(a.text).c_str(),
                         std::strerror(errno));
            for (MHD_Daemon* d : daemons) MHD_stop_daemon(d);
            return 1;
        }
        daemons.push_back(daemon);
        urls.push_back(urlOf(a, daemon, tls != nullptr));
        served.insert(a.given);
    }
    for (const std::string& text : options.listen) {
        if (served.count(text)) continue;
        std::fprintf(stderr, "quillo: cannot listen on %s: %s\n", visibleText(text).c_str(),
                     std::strerror(failure));
        for (MHD_Daemon* d : daemons) MHD_stop_daemon(d);
        return 1;
    }
    if (daemons.empty()) {
        std::fprintf(stderr, "quillo: cannot listen on the loopback addresses: %s\n",
                     std::strerror(errno));
        return 1;
    }
    std::string serving = "quillo: serving";
    for (const std::string& url : urls) serving += " " + url;
    std::fprintf(stderr, "%s\n", serving.c_str());

    std::mutex stopMutex;
    std::condition_variable stopped;
    bool stopping = false;
    // One thread keeps the exporter's clock: the CPU sample each second, and the
    // connections' deadlines every half second.
    std::thread reaper([&] {
        std::unique_lock lock(stopMutex);
        auto nextSample = Clock::now() + Server::cpuInterval;
        while (!stopped.wait_for(lock, std::chrono::milliseconds(250), [&] { return stopping; })) {
            const auto now = Clock::now();
            if (now >= nextSample) {
                server.sampleCpu();
                nextSample += Server::cpuInterval;
                if (nextSample <= now) nextSample = now + Server::cpuInterval;
            }
            std::lock_guard connections(server.connectionsMutex);
            for (auto& [connection, watched] : server.connections) {
                if (watched.deadline > now || watched.fd < 0) continue;
                ::shutdown(watched.fd, SHUT_RDWR);
                watched.fd = -1;
            }
        }
    });
    int signal = 0;
    ::sigwait(&stops, &signal);
    {
        std::lock_guard lock(stopMutex);
        stopping = true;
    }
    stopped.notify_one();
    reaper.join();
    for (MHD_Daemon* d : daemons) MHD_stop_daemon(d);
    return 0;
}

}  // namespace quillo::cli
