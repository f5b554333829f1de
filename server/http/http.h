#pragma once
// A small HTTP/1.1 server for the score service, on non-blocking sockets driven by the Qt event
// loop. It is our own rather than Qt HttpServer 6.4 because the service needs what that one cannot
// give cleanly: replies sent later (after a group commit) yet in request order on a pipelined
// connection, HEAD answered without a body, an exact count of unanswered bytes, a reply to a client
// that has half-closed its side (QTcpSocket treats end of input as a full close), "Connection:
// close" and HTTP/1.0 honoured, and a deadline for a whole request head rather than an idle timer
// restarted by every byte. Requests are read by the parser of requestparser.h, resumed as their
// bytes arrive, so a request that trickles in is not read again from its start on every piece.

#include "clientkey.h"
#include "requestparser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace zimble::server {

struct HttpRequest : ParsedRequest {
    QHostAddress peer;  // the TCP peer (IPv4 addresses as IPv4)
    bool isHead() const { return method == "HEAD"; }
    // Every value of a header, joined by ", " (empty when absent).
    QByteArray header(const QByteArray& lowerName) const;
    // Whether Accept-Encoding names gzip without refusing it (q=0).
    bool acceptsGzip() const;
    // Whether If-None-Match names `tag` (strong or weak) or is "*": the client's copy is current.
    bool matchesTag(const QByteArray& tag) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("text/plain; charset=utf-8");
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers; // further headers
};

class HttpConnection;

// Answers one request, now or later. Replies leave in the order the requests came, whatever the
// order they are given in. Answering a request whose connection has gone does nothing.
class HttpResponder {
public:
    HttpResponder() = default;
    void send(const HttpResponse& response) const;
    bool connected() const { return !m_connection.isNull(); }

private:
    friend class HttpConnection;
    HttpResponder(HttpConnection* c, quint64 seq) : m_connection(c), m_seq(seq) {}
    QPointer<HttpConnection> m_connection;
    quint64 m_seq = 0;
};

class HttpServer : public QTcpServer {
    Q_OBJECT
public:
    // What one connection may send before it is answered: a request that would take the
    // unanswered bytes past this gets an error reply and the connection closes after it.
    // Past it only when other requests are unanswered: a request alone may be as large as the
    // parser allows (a head and a body of 16 KiB each).
    static constexpr qint64 MaxPendingBytes = 16 * 1024;
    static constexpr qint64 HeaderDeadlineMs = 10000;  // a request must be complete in this time
    static constexpr qint64 IdleTimeoutMs = 30000;     // with nothing asked and nothing to send
    static constexpr qint64 WriteStallMs = 30000;      // replies not taken by the client
    // Stop reading requests while this much of a connection's replies is unsent: written out and
    // not taken yet, or ready and waiting behind a reply still owed before them.
    static constexpr qint64 MaxWriteBacklog = 256 * 1024;
    static constexpr int MaxConnectionsPerAddress = 64; // per client, see setClientKeys
    // Descriptors kept for everything but client connections (database, event loop, signals).
    static constexpr int ReservedDescriptors = 64;
    static constexpr int AcceptPauseMs = 200;          // after accept fails, e.g. out of descriptors

    enum class AcceptStep { Retry, Done, Pause };
    // What follows a failed accept(2): Retry at once (the failure was one waiting connection's,
    // or a signal came), Done (none is waiting), or Pause for AcceptPauseMs (out of descriptors
    // or memory, and anything unknown: the listening socket stays readable, so at once would spin).
    static AcceptStep afterAcceptError(int error);

    // Raises the soft limit on open descriptors to the hard limit; returns the soft limit now.
    static int raiseDescriptorLimit();
    // The connections that can be served at once with `descriptors` open files: at most `requested`.
    static int connectionCap(int requested, int descriptors);

    using Handler = std::function<void(const HttpRequest&, const HttpResponder&)>;

    explicit HttpServer(Handler handler, int maxConnections = 1024, QObject* parent = nullptr);
    ~HttpServer() override;

    // QTcpServer's listen and close, with accepting done here: Qt's own accepting retries at once
    // when out of descriptors, and the socket stays readable, so it would spin.
    bool listen(const QHostAddress& address = QHostAddress::Any, quint16 port = 0);
    void close();

    int openConnections() const { return m_connections; }
    // Told of every request refused before it could be handled (malformed, too large, too slow).
    void setRefusalObserver(std::function<void(int status, const QHostAddress& peer)> observer)
    {
        m_refused = std::move(observer);
    }
    void setHeaderDeadline(qint64 ms) { m_headerDeadlineMs = ms; }
    // Clients are told apart by clientKey() with `ipv6Prefix`; each may hold MaxConnectionsPerAddress
    // connections. A trusted proxy's connections are not counted as one client's: each request it
    // forwards counts, while unanswered, for the client its X-Forwarded-For names (the proxy itself
    // when it names none), and gets 503 when that client is at its limit.
    void setClientKeys(QList<QHostAddress> trustedProxies, int ipv6Prefix)
    {
        m_trustedProxies = std::move(trustedProxies);
        m_ipv6Prefix = ipv6Prefix;
    }
    static qint64 nowMs();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class HttpConnection;
    void dispatch(const HttpRequest& request, const HttpResponder& responder) { m_handler(request, responder); }
    void connectionClosed(HttpConnection* c);
    // One more connection or forwarded request for the client `key`; false when it is at its limit.
    bool takeClient(const QString& key);
    void releaseClient(const QString& key);
    void sweep();
    void acceptConnections();
    // The Date header's value for a reply sent now.
    QByteArray dateHeader();

    Handler m_handler;
    std::function<void(int, const QHostAddress&)> m_refused;
    int m_maxConnections;
    int m_connections = 0;
    qint64 m_headerDeadlineMs = HeaderDeadlineMs;
    QList<QHostAddress> m_trustedProxies;
    int m_ipv6Prefix = DefaultIpv6Prefix;
    QHash<QString, int> m_perClient; // connections and forwarded requests of each client key
    QList<HttpConnection*> m_all;
    QTimer m_sweep;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    QTimer m_resumeAccepting;
    qint64 m_dateSecond = -1;
    QByteArray m_dateText;
};

class HttpConnection : public QObject {
    Q_OBJECT
public:
    // `client`: the key the connection counts for, unless it is a trusted proxy's (`proxy`).
    HttpConnection(qintptr fd, const QHostAddress& peer, QString client, bool proxy, HttpServer* server);
    ~HttpConnection() override;

private:
    friend class HttpServer;
    friend class HttpResponder;

    struct Slot {
        quint64 seq = 0;
        qint64 requestBytes = 0;
        bool head = false;
        bool close = false;
        bool ready = false;
        QByteArray replyHead; // the status line and headers
        QByteArray replyBody; // shared with whoever made the reply (often the reply cache): not copied
        bool counted = false; // a forwarded request, counted for `client` until answered
        QString client;
    };
    enum class Parse { Done, NeedMore, Stop };

    void onReadable();
    void onWritable();
    void parseRequests();
    Parse parseOne();
    // Queues an error reply for a request that cannot be read further and stops reading.
    void refuse(int status, const QByteArray& text, qint64 requestBytes);
    void sendContinue();
    // Takes the slot for a forwarded request's client, or answers it 503 when that client is full.
    bool takeForwardedClient(Slot& slot, const HttpRequest& request);
    void releaseSlots();
    // Replies not taken by the client: unsent output and ready replies held behind an earlier one.
    qint64 backlog() const { return m_outBytes + m_heldBytes; }
    void complete(quint64 seq, const HttpResponse& response);
    void flushSlots();
    void queueOut(const QByteArray& bytes);
    void writeOut();
    void beginClose();   // after the last reply: half-close and wait briefly for the client's end
    void destroy();      // close the socket now
    void checkDeadlines(qint64 now);

    HttpServer* m_server;
    int m_fd;
    QHostAddress m_peer;
    QString m_client;             // the client key of the peer
    bool m_proxy = false;         // a trusted proxy's: counted per forwarded request, not as a client
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;

    QByteArray m_in;
    RequestParser m_parser;       // the request at the start of m_in, parsed as far as it has come
    std::deque<QByteArray> m_out; // unsent output, in order; none empty
    qsizetype m_outPos = 0;       // bytes of m_out.front() already sent
    qint64 m_outBytes = 0;        // unsent bytes in m_out
    std::deque<Slot> m_slots;
    qint64 m_heldBytes = 0;       // replies ready in m_slots, waiting behind one not ready
    quint64 m_nextSeq = 0;
    qint64 m_unanswered = 0;      // bytes of read requests not answered yet
    bool m_stopReading = false;   // a request asked to close, or an error ended the connection
    bool m_peerClosed = false;    // the client ended its side
    bool m_lingering = false;     // our side ended; waiting for the client's
    bool m_dead = false;
    bool m_parsing = false;       // parseRequests is on the stack
    bool m_continueSent = false;  // "100 Continue" went out for the request being read
    qint64 m_requestStart = -1;   // when the current unfinished request began (empty lines before it do not count)
    qint64 m_lastActivity = 0;
    qint64 m_lingerStart = 0;
};

} // namespace zimble::server
