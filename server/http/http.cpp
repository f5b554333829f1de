// HttpResponder and HttpConnection: one client's requests and replies.
#include "http.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
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

} // namespace

void HttpResponder::send(const HttpResponse& response) const
{
    if (m_connection)
        m_connection->complete(m_seq, response);
}

// ---------------------------------------------------------------------------------------------

HttpConnection::HttpConnection(qintptr fd, const QHostAddress& peer, QString client, bool proxy, HttpServer* server)
    : QObject(server)
    , m_server(server)
    , m_fd(int(fd))
    , m_peer(peer)
    , m_client(std::move(client))
    , m_proxy(proxy)
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
        releaseSlots();
        m_server->connectionClosed(this);
    }
}

void HttpConnection::releaseSlots()
{
    for (const Slot& s : m_slots) {
        if (s.counted)
            m_server->releaseClient(s.client);
    }
    m_slots.clear();
    m_heldBytes = 0;
}

void HttpConnection::destroy()
{
    if (m_dead)
        return;
    m_dead = true;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    ::close(m_fd);
    releaseSlots();
    m_server->connectionClosed(this);
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
    // A client that does not read its replies, or whose replies wait behind a slow one, stops
    // being read from until they are taken.
    auto overBacklog = [this] { return backlog() > HttpServer::MaxWriteBacklog; };
    while (!m_dead && !m_stopReading && !m_in.isEmpty() && !overBacklog()) {
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
    if (overBacklog()) {
        m_readNotifier.setEnabled(false);
        return;
    }
    if (!m_peerClosed && !m_lingering && !m_stopReading)
        m_readNotifier.setEnabled(true);
    // After the client's end of input, what is left unparsed is an unfinished request that can
    // never complete: once everything owed is sent, the connection is done.
    if (m_peerClosed && !m_stopReading && m_slots.empty() && m_out.empty())
        destroy();
}

HttpConnection::Parse HttpConnection::parseOne()
{
    ParseResult parsed = m_parser.parse(m_in);
    // The deadline runs from the request's first byte: empty lines before it start nothing, so
    // a keep-alive client that ends its request with a spare line is left idle, not timed out.
    if (m_requestStart < 0 && (parsed.started || parsed.kind == ParseResult::Kind::NeedBody))
        m_requestStart = HttpServer::nowMs();
    switch (parsed.kind) {
    case ParseResult::Kind::NeedMore:
        return Parse::NeedMore;
    case ParseResult::Kind::Error:
        refuse(parsed.status, parsed.message, m_in.size());
        return Parse::Stop;
    case ParseResult::Kind::NeedBody:
        // The client waits for a word before it sends the body: say go on once no reply is owed
        // before it (it is asked again when the replies before it have gone out).
        if (parsed.request.expectContinue && !m_continueSent && m_slots.empty())
            sendContinue();
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
    m_requestStart = -1; // the next request's begins when its first byte is parsed
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
    if (m_proxy && !takeForwardedClient(slot, req))
        return m_dead ? Parse::Stop : close ? Parse::Stop : Parse::Done;
    m_slots.push_back(slot);
    if (close)
        m_stopReading = true;
    const QPointer<HttpConnection> self(this);
    m_server->dispatch(req, HttpResponder(this, slot.seq));
    if (!self || m_dead)
        return Parse::Stop;
    return close ? Parse::Stop : Parse::Done;
}

void HttpConnection::sendContinue()
{
    queueOut(QByteArrayLiteral("HTTP/1.1 100 Continue\r\n\r\n"));
    m_continueSent = true;
    m_writeNotifier.setEnabled(true);
}

bool HttpConnection::takeForwardedClient(Slot& slot, const HttpRequest& request)
{
    const std::optional<QHostAddress> forwarded = lastForwardedAddress(request.header("x-forwarded-for"));
    const QString key = clientKey(forwarded.value_or(m_peer), m_server->m_ipv6Prefix);
    if (m_server->takeClient(key)) {
        slot.counted = true;
        slot.client = key;
        return true;
    }
    m_slots.push_back(slot);
    if (slot.close)
        m_stopReading = true;
    HttpResponse r;
    r.status = 503;
    r.body = "Too many connections.\n";
    complete(slot.seq, r);
    return false;
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

void HttpConnection::complete(quint64 seq, const HttpResponse& response)
{
    if (m_dead)
        return;
    for (Slot& s : m_slots) {
        if (s.seq != seq)
            continue;
        if (s.ready)
            return;
        const bool hasBody = response.status != 304 && response.status != 204; // neither has a body
        char status[12], length[24];
        const QByteArrayView statusText(status, std::to_chars(status, status + sizeof status, response.status).ptr);
        const QByteArrayView lengthText(length, std::to_chars(length, length + sizeof length, response.body.size()).ptr);
        const QByteArray date = m_server->dateHeader();
        const QByteArrayView close = s.close ? "Connection: close\r\n" : "";
        // The head is written in two passes over its pieces, sizing then filling, into one
        // buffer: a reply with a dozen headers would otherwise pay for fifty appends.
        auto pieces = [&](auto&& put) {
            put("HTTP/1.1 "), put(statusText), put(" "), put(reason(response.status));
            put("\r\nDate: "), put(date), put("\r\nServer: zimble-scored\r\n");
            if (hasBody) {
                put("Content-Type: "), put(response.contentType), put("\r\n");
                put("Content-Length: "), put(lengthText), put("\r\n");
            }
            for (const auto& [name, value] : response.headers)
                put(name), put(": "), put(value), put("\r\n");
            put(close), put("\r\n");
        };
        qsizetype size = 0;
        pieces([&](QByteArrayView v) { size += v.size(); });
        s.replyHead = QByteArray(size, Qt::Uninitialized);
        char* at = s.replyHead.data();
        pieces([&](QByteArrayView v) { at = std::copy(v.begin(), v.end(), at); });
        if (!s.head && hasBody)
            s.replyBody = response.body;
        s.ready = true;
        m_heldBytes += s.replyHead.size() + s.replyBody.size();
        break;
    }
    flushSlots();
}

void HttpConnection::flushSlots()
{
    bool wrote = false, closeNow = false;
    while (!m_slots.empty() && m_slots.front().ready) {
        Slot& s = m_slots.front();
        queueOut(s.replyHead);
        queueOut(s.replyBody);
        m_heldBytes -= s.replyHead.size() + s.replyBody.size();
        m_unanswered -= s.requestBytes;
        if (s.counted)
            m_server->releaseClient(s.client);
        closeNow = s.close;
        m_slots.pop_front();
        wrote = true;
        if (closeNow) {
            releaseSlots();
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

void HttpConnection::queueOut(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    m_out.push_back(bytes);
    m_outBytes += bytes.size();
}

void HttpConnection::writeOut()
{
    // Heads and bodies go out as they are, gathered into one send.
    constexpr int MaxPieces = 64;
    while (!m_out.empty()) {
        iovec pieces[MaxPieces];
        int count = 0;
        for (auto it = m_out.cbegin(); it != m_out.cend() && count < MaxPieces; ++it, ++count) {
            const qsizetype skip = count == 0 ? m_outPos : 0;
            pieces[count].iov_base = const_cast<char*>(it->constData() + skip);
            pieces[count].iov_len = size_t(it->size() - skip);
        }
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = size_t(count);
        const ssize_t n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (n > 0) {
            m_outBytes -= n;
            qint64 left = n;
            while (left > 0) {
                const qsizetype rest = m_out.front().size() - m_outPos;
                if (left < rest) {
                    m_outPos += qsizetype(left);
                    break;
                }
                left -= rest;
                m_out.pop_front();
                m_outPos = 0;
            }
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
    } else if (!m_out.empty()) {
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
