#include "http.h"

#include <QDateTime>
#include <QLocale>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zimble::server {

namespace {

constexpr qint64 LingerMs = 2000;

const char* reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 417: return "Expectation Failed";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}

QHostAddress normalized(const QHostAddress& a)
{
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : a;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray& lowerName) const
{
    QByteArray out;
    for (const auto& [name, value] : headers) {
        if (name == lowerName) {
            if (!out.isEmpty())
                out += ", ";
            out += value;
        }
    }
    return out;
}

bool HttpRequest::matchesTag(const QByteArray& tag) const
{
    for (const QByteArray& item : header("if-none-match").split(',')) {
        const QByteArray t = item.trimmed();
        if (t == "*" || t == tag || t == "W/" + tag)
            return true;
    }
    return false;
}

bool HttpRequest::acceptsGzip() const
{
    for (const QByteArray& item : header("accept-encoding").split(',')) {
        const QList<QByteArray> parts = item.split(';');
        if (parts.first().trimmed().toLower() != "gzip")
            continue;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts[i].trimmed().toLower();
            if (parameter.startsWith("q=")) {
                bool ok = false;
                const double q = parameter.mid(2).toDouble(&ok);
                return ok && q > 0;
            }
        }
        return true;
    }
    return false;
}

void HttpResponder::send(const HttpResponse& response) const
{
    if (m_connection)
        m_connection->complete(m_seq, response);
}

// ---------------------------------------------------------------------------------------------

HttpServer::HttpServer(Handler handler, int maxConnections, QObject* parent)
    : QTcpServer(parent)
    , m_handler(std::move(handler))
    , m_maxConnections(maxConnections)
{
    m_sweep.setInterval(500);
    connect(&m_sweep, &QTimer::timeout, this, &HttpServer::sweep);
    m_sweep.start();
    m_resumeAccepting.setSingleShot(true);
    m_resumeAccepting.setInterval(AcceptPauseMs);
    connect(&m_resumeAccepting, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

bool HttpServer::listen(const QHostAddress& address, quint16 port)
{
    if (!QTcpServer::listen(address, port))
        return false;
    pauseAccepting(); // Qt's notifier stays off; this one accepts
    m_acceptNotifier = std::make_unique<QSocketNotifier>(socketDescriptor(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, &HttpServer::acceptConnections);
    return true;
}

void HttpServer::close()
{
    m_acceptNotifier.reset();
    m_resumeAccepting.stop();
    QTcpServer::close();
}

void HttpServer::acceptConnections()
{
    for (int i = 0; i < 256; ++i) { // a turn of the event loop for others now and then
        const int fd = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            incomingConnection(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: the waiting client stays queued and the socket stays
            // readable, so stop watching it for a moment instead of failing again at once.
            m_acceptNotifier->setEnabled(false);
            m_resumeAccepting.start();
        }
        return;
    }
}

int HttpServer::raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    // Descriptors are ints; RLIM_INFINITY and other huge limits are cut to what poll can watch.
    return int(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}

int HttpServer::connectionCap(int requested, int descriptors)
{
    return std::max(1, std::min(requested, descriptors - ReservedDescriptors));
}

HttpServer::~HttpServer()
{
    const QList<HttpConnection*> all = m_all;
    for (HttpConnection* c : all)
        delete c;
}

qint64 HttpServer::nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

void HttpServer::incomingConnection(qintptr descriptor)
{
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    QHostAddress peer;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr*>(&ss), &len) == 0)
        peer = normalized(QHostAddress(reinterpret_cast<sockaddr*>(&ss)));
    const QString address = peer.toString();
    if (m_connections >= m_maxConnections || m_perAddress.value(address) >= MaxConnectionsPerAddress) {
        // Full: a short answer, best effort, and the socket is closed at once.
        static const QByteArray busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                       "Content-Length: 22\r\nConnection: close\r\n\r\nToo many connections.\n";
        ::fcntl(int(descriptor), F_SETFL, ::fcntl(int(descriptor), F_GETFL) | O_NONBLOCK);
        [[maybe_unused]] const auto n = ::send(int(descriptor), busy.constData(), size_t(busy.size()), MSG_NOSIGNAL);
        ::close(int(descriptor));
        return;
    }
    ++m_connections;
    ++m_perAddress[address];
    m_all.append(new HttpConnection(descriptor, peer, this));
}

void HttpServer::connectionClosed(HttpConnection* c, const QString& address)
{
    m_all.removeOne(c);
    --m_connections;
    if (--m_perAddress[address] <= 0)
        m_perAddress.remove(address);
}

void HttpServer::sweep()
{
    const qint64 now = nowMs();
    const QList<HttpConnection*> all = m_all;
    for (HttpConnection* c : all)
        c->checkDeadlines(now);
}

// ---------------------------------------------------------------------------------------------

HttpConnection::HttpConnection(qintptr fd, const QHostAddress& peer, HttpServer* server)
    : QObject(server)
    , m_server(server)
    , m_fd(int(fd))
    , m_peer(peer)
    , m_address(peer.toString())
    , m_readNotifier(fd, QSocketNotifier::Read)
    , m_writeNotifier(fd, QSocketNotifier::Write)
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    // Pipelined replies are written as they become ready: do not hold small ones back.
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &HttpConnection::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &HttpConnection::onWritable);
    m_lastActivity = HttpServer::nowMs();
}

HttpConnection::~HttpConnection()
{
    if (!m_dead) {
        m_readNotifier.setEnabled(false);
        m_writeNotifier.setEnabled(false);
        ::close(m_fd);
        m_dead = true;
        m_server->connectionClosed(this, m_address);
    }
}

void HttpConnection::destroy()
{
    if (m_dead)
        return;
    m_dead = true;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    ::close(m_fd);
    m_server->connectionClosed(this, m_address);
    deleteLater();
}

void HttpConnection::onReadable()
{
    if (m_dead)
        return;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            if (m_lingering || m_stopReading)
                continue; // after our last reply: read and drop until the client closes
            if (m_in.isEmpty())
                m_requestStart = HttpServer::nowMs();
            m_in.append(buffer, n);
            // Enough for one pass: the limit check below refuses a connection that sends more.
            if (m_in.size() + m_unanswered > HttpServer::MaxPendingBytes + qint64(sizeof buffer))
                break;
            continue;
        }
        if (n == 0) {
            // The client has ended its side. Replies still owed are sent; then the socket closes.
            m_peerClosed = true;
            m_readNotifier.setEnabled(false);
            if (m_lingering) {
                destroy();
                return;
            }
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        destroy();
        return;
    }
    parseRequests();
}

void HttpConnection::parseRequests()
{
    // Replies given at once write out and may ask to parse again: the loop below goes on instead.
    if (m_parsing || m_dead)
        return;
    m_parsing = true;
    const QPointer<HttpConnection> self(this);
    bool backlog = false;
    while (!m_dead && !m_stopReading && !m_in.isEmpty()) {
        // A client that does not read its replies stops being read from until it does.
        if (m_out.size() - m_outPos > HttpServer::MaxWriteBacklog) {
            m_readNotifier.setEnabled(false);
            backlog = true;
            break;
        }
        if (parseOne() != Parse::Done)
            break;
    }
    if (!self)
        return;
    m_parsing = false;
    if (m_dead)
        return;
    if (m_in.isEmpty())
        m_requestStart = -1;
    if (backlog)
        return;
    if (!m_peerClosed && !m_lingering && !m_stopReading)
        m_readNotifier.setEnabled(true);
    // After the client's end of input, what is left unparsed is an unfinished request that can
    // never complete: once everything owed is sent, the connection is done.
    if (m_peerClosed && !m_stopReading && m_slots.empty() && m_outPos >= m_out.size())
        destroy();
}

HttpConnection::Parse HttpConnection::parseOne()
{
    ParseResult parsed = m_parser.parse(m_in);
    switch (parsed.kind) {
    case ParseResult::Kind::NeedMore:
        return Parse::NeedMore;
    case ParseResult::Kind::Error:
        refuse(parsed.status, parsed.message, m_in.size());
        return Parse::Stop;
    case ParseResult::Kind::NeedBody:
        // The client waits for a word before it sends the body: say go on at once, after the
        // replies owed before it.
        if (parsed.request.expectContinue && !m_continueSent && m_slots.empty()) {
            if (m_outPos > 0 && m_outPos == m_out.size()) {
                m_out.clear();
                m_outPos = 0;
            }
            m_out += "HTTP/1.1 100 Continue\r\n\r\n";
            m_continueSent = true;
            m_writeNotifier.setEnabled(true);
        }
        return Parse::NeedMore;
    case ParseResult::Kind::Request:
        break;
    }

    const qint64 requestBytes = parsed.consumed;
    if (m_unanswered > 0 && m_unanswered + requestBytes > HttpServer::MaxPendingBytes) {
        // Everything before this request is answered; this one and the rest are not read.
        refuse(429, "Too many unanswered requests on this connection; wait for the replies before sending more.\n",
               requestBytes);
        return Parse::Stop;
    }
    m_in.remove(0, requestBytes);
    m_parser.reset();
    m_continueSent = false;
    m_requestStart = m_in.isEmpty() ? -1 : HttpServer::nowMs();
    m_lastActivity = HttpServer::nowMs();

    HttpRequest req;
    static_cast<ParsedRequest&>(req) = std::move(parsed.request);
    req.peer = m_peer;
    const bool close = req.close;
    Slot slot;
    slot.seq = m_nextSeq++;
    slot.requestBytes = requestBytes;
    slot.head = req.isHead();
    slot.close = close;
    m_unanswered += requestBytes;
    m_slots.push_back(slot);
    if (close)
        m_stopReading = true;
    const QPointer<HttpConnection> self(this);
    m_server->dispatch(req, HttpResponder(this, slot.seq));
    if (!self || m_dead)
        return Parse::Stop;
    return close ? Parse::Stop : Parse::Done;
}

void HttpConnection::refuse(int status, const QByteArray& text, qint64 requestBytes)
{
    Slot slot;
    slot.seq = m_nextSeq++;
    slot.requestBytes = requestBytes;
    slot.close = true;
    m_unanswered += requestBytes;
    m_slots.push_back(slot);
    m_stopReading = true;
    m_in.clear();
    m_parser.reset();
    m_requestStart = -1;
    HttpResponse r;
    r.status = status;
    r.body = text;
    const QPointer<HttpConnection> self(this);
    if (m_server->m_refused)
        m_server->m_refused(status, m_peer);
    if (self && !m_dead)
        complete(slot.seq, r);
}

QByteArray HttpServer::dateHeader()
{
    // Formatted once a second, not for every reply.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != m_dateSecond) {
        m_dateSecond = now;
        m_dateText = QLocale::c()
                         .toString(QDateTime::fromSecsSinceEpoch(now, Qt::UTC), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
                         .toLatin1();
    }
    return m_dateText;
}

void HttpConnection::complete(quint64 seq, const HttpResponse& response)
{
    if (m_dead)
        return;
    for (Slot& s : m_slots) {
        if (s.seq != seq)
            continue;
        if (s.ready)
            return;
        QByteArray& d = s.data;
        d.reserve(200 + response.body.size());
        d += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reason(response.status) + "\r\n";
        d += "Date: " + m_server->dateHeader() + "\r\nServer: zimble-scored\r\n";
        if (response.status != 304 && response.status != 204) { // neither has a body
            d += "Content-Type: " + response.contentType + "\r\n";
            d += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        }
        for (const auto& [name, value] : response.headers)
            d += name + ": " + value + "\r\n";
        if (s.close)
            d += "Connection: close\r\n";
        d += "\r\n";
        if (!s.head && response.status != 304 && response.status != 204)
            d += response.body;
        s.ready = true;
        break;
    }
    flushSlots();
}

void HttpConnection::flushSlots()
{
    bool wrote = false, closeNow = false;
    while (!m_slots.empty() && m_slots.front().ready) {
        Slot& s = m_slots.front();
        if (m_outPos > 0 && m_outPos == m_out.size()) {
            m_out.clear();
            m_outPos = 0;
        }
        m_out += s.data;
        m_unanswered -= s.requestBytes;
        closeNow = s.close;
        m_slots.pop_front();
        wrote = true;
        if (closeNow) {
            m_slots.clear();
            break;
        }
    }
    if (!wrote)
        return;
    m_lastActivity = HttpServer::nowMs();
    writeOut();
    if (m_dead)
        return;
    if (closeNow)
        m_stopReading = true;
    // Requests held back while earlier replies were owed can go on now.
    if (!m_stopReading && !m_in.isEmpty() && !m_peerClosed)
        QMetaObject::invokeMethod(this, &HttpConnection::parseRequests, Qt::QueuedConnection);
}

void HttpConnection::writeOut()
{
    while (m_outPos < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.constData() + m_outPos, size_t(m_out.size() - m_outPos), MSG_NOSIGNAL);
        if (n > 0) {
            m_outPos += n;
            m_lastActivity = HttpServer::nowMs();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier.setEnabled(true);
            return;
        }
        destroy(); // the client has gone
        return;
    }
    m_out.clear();
    m_outPos = 0;
    m_writeNotifier.setEnabled(false);
    if (m_stopReading && m_slots.empty())
        beginClose();
    else if (!m_stopReading && (m_peerClosed || !m_readNotifier.isEnabled()))
        parseRequests(); // reading had paused for a backlog of replies, or requests remain after the client's end
}

void HttpConnection::onWritable()
{
    if (!m_dead)
        writeOut();
}

void HttpConnection::beginClose()
{
    if (m_lingering || m_dead)
        return;
    if (m_peerClosed) {
        destroy();
        return;
    }
    // Half-close, then read and drop until the client closes too, so that data it sent after
    // our last reply does not turn into a reset that destroys the reply on its way.
    ::shutdown(m_fd, SHUT_WR);
    m_lingering = true;
    m_lingerStart = HttpServer::nowMs();
    m_readNotifier.setEnabled(true);
}

void HttpConnection::checkDeadlines(qint64 now)
{
    if (m_dead)
        return;
    if (m_lingering) {
        if (now - m_lingerStart > LingerMs)
            destroy();
    } else if (m_outPos < m_out.size()) {
        if (now - m_lastActivity > HttpServer::WriteStallMs)
            destroy(); // a client that does not read its replies
    } else if (m_requestStart >= 0 && !m_in.isEmpty() && !m_stopReading) {
        if (now - m_requestStart > m_server->m_headerDeadlineMs)
            refuse(408, "The request did not arrive in time.\n", m_in.size());
    } else if (m_slots.empty() && now - m_lastActivity > HttpServer::IdleTimeoutMs) {
        destroy();
    }
}

} // namespace zimble::server
