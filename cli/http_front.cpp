#include "cli/http_front.h"

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "platform/ipv4_address.h"
#include "platform/thread.h"

namespace vorpane {
namespace {

using Clock = std::chrono::steady_clock;

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Form decoding: '+' is a space, %XX a byte; a broken escape stays as it is.
std::string Decoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string ReplyText(const HttpReply& reply, bool head, bool keepAlive, bool allowHeader) {
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                      "\r\nContent-Type: " + reply.contentType + "\r\n";
    if (!head) {
        out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    }
    if (allowHeader) {
        out += "Allow: GET, HEAD\r\n";
    }
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (!head) {
        out += reply.body;
    }
    return out;
}

// What a head says, or the status that refuses it.
struct ParsedHead {
    int refusal = 0;
    const char* why = "";
    HttpRequest request;
    bool keepAlive = false;
};

ParsedHead ParseHead(std::string_view head, size_t maxHeaders) {
    ParsedHead parsed;
    const auto refuse = [&](int status, const char* why) {
        parsed.refusal = status;
        parsed.why = why;
        return parsed;
    };
    size_t lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const size_t firstSpace = line.find(' ');
    const size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace) {
        return refuse(400, "the request line is not METHOD TARGET HTTP/1.x");
    }
    const std::string_view method = line.substr(0, firstSpace);
    const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const std::string_view version = line.substr(lastSpace + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return refuse(400, "only HTTP/1.0 and HTTP/1.1 are served");
    }
    if (method != "GET" && method != "HEAD") {
        return refuse(405, "only GET and HEAD are served");
    }
    if (target.empty() || target.front() != '/') {
        return refuse(400, "the target is not a path");
    }
    parsed.request.head = method == "HEAD";
    const size_t question = target.find('?');
    parsed.request.path = std::string(target.substr(0, question));
    if (question != std::string_view::npos) {
        parsed.request.query = std::string(target.substr(question + 1));
    }
    parsed.keepAlive = version == "HTTP/1.1";
    while (lineEnd + 2 < head.size()) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view field = head.substr(start, lineEnd - start);
        if (field.empty()) {
            break;
        }
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0 || field.front() == ' ' ||
            field.front() == '\t') {
            return refuse(400, "a header line is not NAME: VALUE");
        }
        if (parsed.request.headers.size() == maxHeaders) {
            return refuse(431, "too many headers");
        }
        parsed.request.headers.emplace_back(std::string(field.substr(0, colon)),
                                            std::string(Trimmed(field.substr(colon + 1))));
    }
    // A body is never read: the request is refused before it comes.
    const std::string_view length = parsed.request.Header("Content-Length");
    if ((!length.empty() && length != "0") || !parsed.request.Header("Transfer-Encoding").empty()) {
        return refuse(413, "a request here has no body");
    }
    const std::string_view connection = parsed.request.Header("Connection");
    if (SameText(connection, "close")) {
        parsed.keepAlive = false;
    } else if (SameText(connection, "keep-alive")) {
        parsed.keepAlive = true;
    }
    return parsed;
}

// Writes all of `text` before `deadline`; false when it could not.
bool SendAll(Socket& socket, std::string_view text, Clock::time_point deadline) {
    while (!text.empty()) {
        const SocketIo sent =
            socket.Send({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
        if (sent.error == EAGAIN || sent.error == EWOULDBLOCK) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 ||
                WaitForSocket(socket, kSocketWritable, static_cast<int>(left.count())) != 0) {
                return false;
            }
            continue;
        }
        if (sent.error != 0) {
            return false;
        }
        text.remove_prefix(static_cast<size_t>(sent.bytes));
    }
    return true;
}

}  // namespace

std::string_view HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (SameText(key, name)) {
            return value;
        }
    }
    return {};
}

std::optional<std::string> HttpRequest::Parameter(std::string_view name) const {
    std::string_view rest = query;
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        const size_t equals = pair.find('=');
        if (Decoded(pair.substr(0, equals)) == name) {
            return equals == std::string_view::npos ? std::string()
                                                    : Decoded(pair.substr(equals + 1));
        }
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
    return std::nullopt;
}

struct StrictHttpServer::Connection {
    Socket socket;
    std::string buffer;
    Clock::time_point deadline;
    int served = 0;
};

struct StrictHttpServer::Job {
    Connection connection;
    HttpRequest request;
    bool keepAlive = false;
};

StrictHttpServer::StrictHttpServer(HttpLimits limits, Handler handler, Socket listener,
                                   SocketWaker waker)
    : m_limits(limits),
      m_handler(std::move(handler)),
      m_listener(std::move(listener)),
      m_waker(std::move(waker)) {}

StrictHttpServer::Started StrictHttpServer::Start(const Ipv4Endpoint& listen, HttpLimits limits,
                                                  Handler handler) {
    const std::string where =
        Ipv4Address::FromHostOrder(listen.address).Text() + ":" + std::to_string(listen.port);
    const auto failed = [&](int error, const std::string& why) {
        return Started{nullptr, error, "cannot listen on " + where + ": " + why};
    };
    auto opened = Socket::Open(Socket::Kind::kStream, true);
    if (!opened.socket.Valid()) {
        return failed(opened.error, SocketErrorText(opened.error));
    }
    // Address reuse lets a restart bind past the last run's closing
    // connections; without SO_REUSEPORT a second server is refused.
    opened.socket.SetReuseAddress();
    if (const int error = opened.socket.Bind(listen)) {
        return failed(error, SocketErrorText(error));
    }
    if (const int error = opened.socket.Listen(128)) {
        return failed(error, SocketErrorText(error));
    }
    Ipv4Endpoint bound;
    opened.socket.LocalEndpoint(bound);
    auto created = SocketWaker::Create();
    if (!created.waker) {
        return failed(created.error, SocketErrorText(created.error));
    }
    std::unique_ptr<StrictHttpServer> server(new StrictHttpServer(
        limits, std::move(handler), std::move(opened.socket), std::move(*created.waker)));
    server->m_port = bound.port;
    StrictHttpServer* raw = server.get();
    const auto start = [raw](std::function<void()> body) {
        {
            // Counted before it runs, so that its end never comes first.
            std::lock_guard lock(raw->m_mutex);
            ++raw->m_running;
        }
        auto thread = StartSystemThread([raw, body = std::move(body)] {
            body();
            std::lock_guard lock(raw->m_mutex);
            --raw->m_running;
            raw->m_ended.notify_all();
        });
        std::lock_guard lock(raw->m_mutex);
        if (!thread) {
            --raw->m_running;
            return false;
        }
        raw->m_threads.push_back(std::move(*thread));
        return true;
    };
    bool ok = start([raw] { raw->RunFront(); });
    for (size_t i = 0; ok && i < limits.workers; ++i) {
        ok = start([raw] { raw->RunWorker(); });
    }
    if (!ok) {
        server->Stop();
        return failed(0, "no thread to serve it");
    }
    return {std::move(server), 0, {}};
}

StrictHttpServer::~StrictHttpServer() {
    Stop();
}

void StrictHttpServer::Stop() {
    std::lock_guard stopLock(m_stopMutex);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_work.notify_all();
    m_waker.Wake();
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    m_threads.clear();
    std::lock_guard lock(m_mutex);
    m_jobs.clear();
    m_returned.clear();
    m_listener.Close();
}

bool StrictHttpServer::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, timeout, [this] { return m_running == 0; });
}

void StrictHttpServer::Refuse(Connection& connection, int status, const char* why) {
    ++(status == 503 ? m_counters.shed : m_counters.refused);
    HttpReply reply{status, "text/plain; charset=utf-8", std::string(why) + "\n"};
    // The connection closes next: a short try, never a wait on the front.
    SendAll(connection.socket, ReplyText(reply, false, false, status == 405), Clock::now());
    connection.socket.Close();
}

void StrictHttpServer::Accept(std::vector<Connection>& waiting) {
    for (;;) {
        Ipv4Endpoint peer;
        auto accepted = m_listener.Accept(peer);
        if (!accepted.socket.Valid()) {
            // Out of descriptors the listener stays readable: it rests a
            // moment rather than spin.
            if (accepted.error == EMFILE || accepted.error == ENFILE) {
                m_acceptRestUntil = Clock::now() + std::chrono::milliseconds(100);
            }
            return;
        }
        ++m_counters.accepted;
        Connection connection{std::move(accepted.socket), {}, Clock::now() + m_limits.headDeadline};
        if (waiting.size() >= m_limits.maxWaiting) {
            Refuse(connection, 503, "too many connections");
            continue;
        }
        waiting.push_back(std::move(connection));
    }
}

bool StrictHttpServer::ReadHead(Connection& connection) {
    // Never more than one byte past the cap, so an endless line costs nothing.
    char chunk[4096];
    const size_t room = m_limits.maxHeadBytes + 1 - connection.buffer.size();
    const SocketIo got = connection.socket.Receive(
        {reinterpret_cast<uint8_t*>(chunk), std::min(room, sizeof chunk)});
    if (got.error == EAGAIN || got.error == EWOULDBLOCK) {
        return true;
    }
    if (got.error != 0 || got.bytes == 0) {
        connection.socket.Close();
        return false;
    }
    const size_t searchFrom = connection.buffer.size() < 3 ? 0 : connection.buffer.size() - 3;
    connection.buffer.append(chunk, static_cast<size_t>(got.bytes));
    const size_t end = connection.buffer.find("\r\n\r\n", searchFrom);
    if (end == std::string::npos) {
        if (connection.buffer.size() > m_limits.maxHeadBytes) {
            const bool lineDone = connection.buffer.find("\r\n") != std::string::npos;
            Refuse(connection, lineDone ? 431 : 414,
                   lineDone ? "the headers are too large" : "the request line is too long");
            return false;
        }
        return true;
    }
    ParsedHead parsed =
        ParseHead(std::string_view(connection.buffer).substr(0, end + 2), m_limits.maxHeaders);
    if (parsed.refusal != 0) {
        Refuse(connection, parsed.refusal, parsed.why);
        return false;
    }
    // Bytes past the head would be a body or a pipelined request: answered,
    // then closed.
    const bool extra = connection.buffer.size() > end + 4;
    connection.buffer.clear();
    ++connection.served;
    auto job = std::make_unique<Job>();
    job->keepAlive =
        parsed.keepAlive && !extra && connection.served < m_limits.maxRequestsPerConnection;
    job->request = std::move(parsed.request);
    {
        std::lock_guard lock(m_mutex);
        if (m_jobs.size() < m_limits.maxQueued) {
            job->connection = std::move(connection);
            m_jobs.push_back(std::move(job));
            m_work.notify_one();
            return false;
        }
    }
    Refuse(connection, 503, "too many requests under way");
    return false;
}

void StrictHttpServer::RunFront() {
    std::vector<Connection> waiting;
    std::vector<SocketPoll> polls;
    while (!m_stopping.load()) {
        {
            std::lock_guard lock(m_mutex);
            for (Connection& back : m_returned) {
                waiting.push_back(std::move(back));
            }
            m_returned.clear();
        }
        const auto now = Clock::now();
        // Heads not read in time: closed.
        const auto late = std::remove_if(waiting.begin(), waiting.end(), [&](Connection& c) {
            if (c.deadline > now) {
                return false;
            }
            ++m_counters.timedOut;
            return true;
        });
        waiting.erase(late, waiting.end());
        auto next = now + std::chrono::seconds(1);
        for (const Connection& c : waiting) {
            next = std::min(next, c.deadline);
        }
        polls.clear();
        polls.push_back({m_waker.Handle(), kSocketReadable, 0});
        // Always accepted: beyond the cap a connection is shed at once rather
        // than left in the kernel's queue.
        const bool resting = now < m_acceptRestUntil;
        if (resting) {
            next = std::min(next, m_acceptRestUntil);
        }
        polls.push_back({resting ? kNoSocket : m_listener.Handle(), kSocketReadable, 0});
        for (const Connection& c : waiting) {
            polls.push_back({c.socket.Handle(), kSocketReadable, 0});
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
        if (PollSockets(polls, static_cast<int>(std::max<int64_t>(wait.count(), 0)) + 1) != 0) {
            continue;
        }
        if (polls[0].ready != 0) {
            m_waker.Drain();
        }
        // Reads first: a connection accepted now has nothing to read yet.
        std::vector<Connection> kept;
        kept.reserve(waiting.size());
        for (size_t i = 0; i < waiting.size(); ++i) {
            if (polls[i + 2].ready == 0 || ReadHead(waiting[i])) {
                kept.push_back(std::move(waiting[i]));
            }
        }
        waiting = std::move(kept);
        if (polls[1].ready != 0) {
            Accept(waiting);
        }
    }
}

void StrictHttpServer::RunWorker() {
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_work.wait(lock, [this] { return m_stopping.load() || !m_jobs.empty(); });
            if (m_stopping.load()) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        Serve(*job);
    }
}

void StrictHttpServer::Serve(Job& job) {
    ++m_counters.handled;
    const HttpReply reply = m_handler(job.request, m_stopping);
    const bool keepAlive = job.keepAlive && !m_stopping.load();
    const bool sent =
        SendAll(job.connection.socket, ReplyText(reply, job.request.head, keepAlive, false),
                Clock::now() + m_limits.writeDeadline);
    if (!sent || !keepAlive) {
        return;
    }
    job.connection.deadline = Clock::now() + m_limits.headDeadline;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping.load()) {
            return;
        }
        m_returned.push_back(std::move(job.connection));
    }
    m_waker.Wake();
}

}  // namespace vorpane
