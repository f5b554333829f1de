// HttpServer: accepting connections, the caps on them, and what its connections share.
#include "http.h"

#include <QDateTime>
#include <QLocale>

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zimble::server {

namespace {

QHostAddress normalized(const QHostAddress& a)
{
    bool ok = false;
    const quint32 v4 = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : a;
}

} // namespace

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
        const AcceptStep step = afterAcceptError(errno);
        if (step == AcceptStep::Retry)
            continue;
        if (step == AcceptStep::Pause) {
            // The waiting client stays queued and the socket stays readable: stop watching it for
            // a moment instead of failing again at once.
            m_acceptNotifier->setEnabled(false);
            m_resumeAccepting.start();
        }
        return;
    }
}

HttpServer::AcceptStep HttpServer::afterAcceptError(int error)
{
    if (error == EAGAIN || error == EWOULDBLOCK)
        return AcceptStep::Done;
    // Errors of the connection being accepted (accept(2) says to retry as for EAGAIN), and a signal.
    for (int retry : {ENETDOWN, EPROTO, ENOPROTOOPT, EHOSTDOWN, ENONET, EHOSTUNREACH, EOPNOTSUPP, ENETUNREACH,
                      ECONNABORTED, EINTR}) {
        if (error == retry)
            return AcceptStep::Retry;
    }
    return AcceptStep::Pause;
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
    const QString client = clientKey(peer, m_ipv6Prefix);
    const bool proxy = m_trustedProxies.contains(peer);
    if (m_connections >= m_maxConnections || (!proxy && !takeClient(client))) {
        // Full: a short answer, best effort, and the socket is closed at once.
        static const QByteArray busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                       "Content-Length: 22\r\nConnection: close\r\n\r\nToo many connections.\n";
        ::fcntl(int(descriptor), F_SETFL, ::fcntl(int(descriptor), F_GETFL) | O_NONBLOCK);
        [[maybe_unused]] const auto n = ::send(int(descriptor), busy.constData(), size_t(busy.size()), MSG_NOSIGNAL);
        ::close(int(descriptor));
        return;
    }
    ++m_connections;
    m_all.append(new HttpConnection(descriptor, peer, client, proxy, this));
}

bool HttpServer::takeClient(const QString& key)
{
    int& n = m_perClient[key];
    if (n >= MaxConnectionsPerAddress)
        return false;
    ++n;
    return true;
}

void HttpServer::releaseClient(const QString& key)
{
    const auto it = m_perClient.find(key);
    if (it != m_perClient.end() && --*it <= 0)
        m_perClient.erase(it);
}

void HttpServer::connectionClosed(HttpConnection* c)
{
    m_all.removeOne(c);
    --m_connections;
    if (!c->m_proxy)
        releaseClient(c->m_client);
}

void HttpServer::sweep()
{
    const qint64 now = nowMs();
    const QList<HttpConnection*> all = m_all;
    for (HttpConnection* c : all)
        c->checkDeadlines(now);
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

} // namespace zimble::server
