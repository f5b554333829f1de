#include "http.h"

#include <QDateTime>
#include <QLocale>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zimble::server {

namespace {

constexpr int MaxHeaders = 100;
constexpr qint64 LingerMs = 2000;

const char* reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(const QByteArray& s)
{
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
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
    if (m_peerClosed && m_slots.empty() && m_outPos >= m_out.size())
        destroy();
}

void HttpConnection::parseRequests()
{
    while (!m_dead && !m_stopReading && !m_in.isEmpty()) {
        // A client that does not read its replies stops being read from until it does.
        if (m_out.size() - m_outPos > HttpServer::MaxWriteBacklog) {
            m_readNotifier.setEnabled(false);
            return;
        }
        if (parseOne() != Parse::Done)
            break;
    }
    if (m_in.isEmpty())
        m_requestStart = -1;
    if (!m_dead && !m_peerClosed && !m_lingering && !m_stopReading)
        m_readNotifier.setEnabled(true);
}

HttpConnection::Parse HttpConnection::parseOne()
{
    // Empty lines before a request are allowed.
    qsizetype start = 0;
    while (start < m_in.size() && (m_in[start] == '\r' || m_in[start] == '\n'))
        ++start;
    if (start > 0) {
        m_in.remove(0, start);
        if (m_in.isEmpty())
            return Parse::NeedMore;
    }

    // Find the end of the head: an empty line, lines ending in CRLF or LF.
    qsizetype headEnd = -1, bodyStart = -1;
    for (qsizetype i = m_in.indexOf('\n'); i >= 0; i = m_in.indexOf('\n', i + 1)) {
        if (i + 1 < m_in.size() && m_in[i + 1] == '\n') {
            headEnd = i + 1;
            bodyStart = i + 2;
            break;
        }
        if (i + 2 < m_in.size() && m_in[i + 1] == '\r' && m_in[i + 2] == '\n') {
            headEnd = i + 1;
            bodyStart = i + 3;
            break;
        }
    }
    if (headEnd < 0) {
        const qsizetype firstLine = m_in.indexOf('\n');
        if ((firstLine < 0 ? m_in.size() : firstLine) > HttpServer::MaxTargetLength + 32) {
            refuse(414, "Request target too long.\n", m_in.size());
            return Parse::Stop;
        }
        if (m_unanswered + m_in.size() > HttpServer::MaxPendingBytes) {
            refuse(431, "Request head too large.\n", m_in.size());
            return Parse::Stop;
        }
        return Parse::NeedMore;
    }

    // Split the head into lines; a CR anywhere but before LF is refused.
    QList<QByteArray> lines;
    {
        qsizetype pos = 0;
        while (pos < headEnd) {
            qsizetype nl = m_in.indexOf('\n', pos);
            QByteArray line = m_in.mid(pos, nl - pos);
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.contains('\r') || line.contains('\0')) {
                refuse(400, "Malformed request.\n", bodyStart);
                return Parse::Stop;
            }
            lines.append(line);
            pos = nl + 1;
        }
    }

    HttpRequest req;
    req.peer = m_peer;
    const QList<QByteArray> parts = lines.first().split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty()) {
        refuse(400, "Malformed request line.\n", bodyStart);
        return Parse::Stop;
    }
    req.method = parts[0];
    const QByteArray& version = parts[2];
    if (!version.startsWith("HTTP/") || version.size() != 8 || version[6] != '.') {
        refuse(400, "Malformed request line.\n", bodyStart);
        return Parse::Stop;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        refuse(505, "Only HTTP/1.0 and HTTP/1.1 are served.\n", bodyStart);
        return Parse::Stop;
    }
    req.target = parts[1];
    if (req.target.size() > HttpServer::MaxTargetLength) {
        refuse(414, "Request target too long.\n", bodyStart);
        return Parse::Stop;
    }
    for (char c : req.target) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7F) {
            refuse(400, "Malformed request target.\n", bodyStart);
            return Parse::Stop;
        }
    }
    QByteArray originForm = req.target;
    if (originForm.startsWith("http://") || originForm.startsWith("https://")) {
        const qsizetype slash = originForm.indexOf('/', originForm.indexOf("//") + 2);
        originForm = slash < 0 ? QByteArray("/") : originForm.mid(slash);
    }
    if (!originForm.startsWith('/') && originForm != "*") {
        refuse(400, "Malformed request target.\n", bodyStart);
        return Parse::Stop;
    }
    const qsizetype q = originForm.indexOf('?');
    req.path = q < 0 ? originForm : originForm.left(q);
    req.query = q < 0 ? QByteArray() : originForm.mid(q + 1);

    if (lines.size() - 1 > MaxHeaders) {
        refuse(431, "Too many header fields.\n", bodyStart);
        return Parse::Stop;
    }
    int hosts = 0;
    bool close = version == "HTTP/1.0";
    bool hasLength = false, hasEncoding = false;
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const qsizetype colon = line.indexOf(':');
        // No folded lines, no white space before the colon, a token for a name.
        if (colon <= 0 || !isToken(line.left(colon))) {
            refuse(400, "Malformed header field.\n", bodyStart);
            return Parse::Stop;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "host") {
            ++hosts;
        } else if (name == "content-length") {
            // Several values (in one field or in several) must all agree.
            for (const QByteArray& part : value.split(',')) {
                const QByteArray v = part.trimmed();
                bool ok = !v.isEmpty() && v.size() <= 15;
                for (char c : v)
                    ok = ok && c >= '0' && c <= '9';
                if (!ok || (hasLength && v.toLongLong() != length)) {
                    refuse(400, "Malformed Content-Length.\n", bodyStart);
                    return Parse::Stop;
                }
                hasLength = true;
                length = v.toLongLong();
            }
        } else if (name == "transfer-encoding") {
            hasEncoding = true;
        } else if (name == "connection") {
            for (const QByteArray& token : value.split(','))
                close = close || token.trimmed().toLower() == "close";
        }
        req.headers.append({name, value});
    }
    if (hasEncoding) {
        // With Content-Length as well this is the shape of request smuggling; alone, no request
        // served here has a body to encode.
        refuse(hasLength ? 400 : 501,
               hasLength ? "Both Transfer-Encoding and Content-Length.\n" : "Transfer-Encoding is not supported.\n", bodyStart);
        return Parse::Stop;
    }
    if (version == "HTTP/1.1" && hosts != 1) {
        refuse(400, "Exactly one Host header is required.\n", bodyStart);
        return Parse::Stop;
    }
    if (length > HttpServer::MaxPendingBytes) {
        refuse(413, "Request body too large.\n", bodyStart);
        return Parse::Stop;
    }
    const qint64 requestBytes = bodyStart + length;
    if (m_unanswered + requestBytes > HttpServer::MaxPendingBytes) {
        // Everything before this request is answered; this one and the rest are not read.
        refuse(429, "Too many unanswered requests on this connection; wait for the replies before sending more.\n",
               requestBytes);
        return Parse::Stop;
    }
    if (m_in.size() < requestBytes)
        return Parse::NeedMore; // the body is still coming
    m_in.remove(0, requestBytes);
    m_requestStart = m_in.isEmpty() ? -1 : HttpServer::nowMs();
    m_lastActivity = HttpServer::nowMs();

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
        if (response.status != 304) {
            d += "Content-Type: " + response.contentType + "\r\n";
            d += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        }
        for (const auto& [name, value] : response.headers)
            d += name + ": " + value + "\r\n";
        if (s.close)
            d += "Connection: close\r\n";
        d += "\r\n";
        if (!s.head && response.status != 304)
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
    else if (m_peerClosed && m_slots.empty())
        destroy();
    else if (!m_stopReading && !m_peerClosed && !m_readNotifier.isEnabled())
        parseRequests(); // reading had paused for a backlog of replies
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
