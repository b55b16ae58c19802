#pragma once
// The exporter's HTTP side: a strict, bounded server for GET and HEAD only.
//
// cpp-httplib 0.11.4 (Debian's) cannot be made safe against hostile
// clients: its read time-out bounds each receive, so one byte every few
// seconds holds a worker forever; nothing caps the number of headers; its
// task queue is handed an opaque job that owns the socket, so a full pool
// can queue but never shed; and it offers no way to hand it a socket we have
// screened first. What the exporter needs of HTTP is tiny (a request head,
// a path and a query, a text answer), so it is served here: one thread waits
// for every connection's head with a deadline for the whole head, caps its
// size and its header count before reading further, refuses other methods
// and any body unread, and sheds connections beyond a cap at once; a fixed
// pool of workers runs the handlers.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/socket.h"

namespace vorpane {

struct HttpRequest {
    bool head = false;  // HEAD: the handler says what it would send, without doing it
    std::string path;   // "/probe"
    std::string query;  // "target=127.0.0.1%3A9100", undecoded
    std::vector<std::pair<std::string, std::string>> headers;
    // The value of the first header called `name` (any case); empty when none.
    std::string_view Header(std::string_view name) const;
    // The decoded value of the first query parameter `name`; nullopt when none.
    std::optional<std::string> Parameter(std::string_view name) const;
};

struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

struct HttpLimits {
    size_t maxHeadBytes = 8192;  // request line and headers
    size_t maxHeaders = 64;
    // From the accept (or the end of the last answer) to the head's last byte.
    std::chrono::milliseconds headDeadline{3000};
    std::chrono::milliseconds writeDeadline{5000};
    int maxRequestsPerConnection = 100;
    size_t maxWaiting = 512;  // connections waiting for their head; more are shed
    size_t workers = 8;
    size_t maxQueued = 64;  // complete requests waiting for a worker; more get 503
};

// What the server counts, for tests and the exporter's own series.
struct HttpCounters {
    std::atomic<uint64_t> accepted{0};
    std::atomic<uint64_t> shed{0};
    std::atomic<uint64_t> refused{0};   // answered 4xx by the server itself
    std::atomic<uint64_t> timedOut{0};  // closed for a head not read in time
    std::atomic<uint64_t> handled{0};
};

class StrictHttpServer {
public:
    // Runs on a worker; `stopping` turns true when the server stops, and a
    // handler that waits must give up then.
    using Handler = std::function<HttpReply(const HttpRequest&, const std::atomic<bool>& stopping)>;
    struct Started;

    // Binds `listen` (port 0: the system picks one) and starts serving.
    static Started Start(const Ipv4Endpoint& listen, HttpLimits limits, Handler handler);
    ~StrictHttpServer();
    StrictHttpServer(const StrictHttpServer&) = delete;
    StrictHttpServer& operator=(const StrictHttpServer&) = delete;

    uint16_t Port() const { return m_port; }
    const HttpCounters& Counters() const { return m_counters; }
    // Closes every connection and ends every thread once the handlers under
    // way have returned; idempotent.
    void Stop();
    // True once the server has ended; waits at most `timeout`.
    bool WaitForEnd(std::chrono::milliseconds timeout);

private:
    struct Connection;
    struct Job;
    StrictHttpServer(HttpLimits limits, Handler handler, Socket listener, SocketWaker waker);
    void RunFront();
    void RunWorker();
    void Accept(std::vector<Connection>& waiting);
    // False when the connection is done with (closed or handed on).
    bool ReadHead(Connection& connection);
    void Refuse(Connection& connection, int status, const char* why);
    void Serve(Job& job);

    const HttpLimits m_limits;
    const Handler m_handler;
    Socket m_listener;
    SocketWaker m_waker;
    uint16_t m_port = 0;
    HttpCounters m_counters;
    std::atomic<bool> m_stopping{false};
    std::chrono::steady_clock::time_point m_acceptRestUntil;  // the front's own

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_ended;
    std::deque<std::unique_ptr<Job>> m_jobs;
    std::vector<Connection> m_returned;  // kept alive by a worker, back to the front
    size_t m_running = 0;                // threads not yet ended
    std::mutex m_stopMutex;
    std::vector<std::thread> m_threads;
};

struct StrictHttpServer::Started {
    std::unique_ptr<StrictHttpServer> server;
    int error = 0;        // errno of the socket, the bind or the listen
    std::string message;  // "cannot listen on 127.0.0.1:9464: Address already in use"
};

}  // namespace vorpane
