#pragma once
// The HTTP side of the score service: routes, limits, the game's web page and the request log.

#include "scorestore.h"

#include <QAbstractHttpServer>
#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>

#include <deque>
#include <functional>
#include <memory>

namespace zimble::server {

// At most `perMinute` events per client address in any 60 seconds (0: no limit).
class RateLimiter {
public:
    explicit RateLimiter(int perMinute, std::function<qint64()> nowMs = {});
    // Records one event for the address when it is within its limit; false when over it.
    bool allow(const QString& client);

private:
    int m_perMinute;
    std::function<qint64()> m_now;
    QHash<QString, std::deque<qint64>> m_events;
    qint64 m_lastSweep = 0;
};

// A TCP listener that bounds what one connection may send before it is answered, how long it
// may sit idle, and how many connections one address may hold.
class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
public:
    static constexpr qint64 MaxPendingBytes = 16 * 1024;
    static constexpr int IdleTimeoutMs = 30000;
    static constexpr int MaxConnectionsPerAddress = 64;
    explicit GuardedTcpServer(QObject* parent = nullptr) : QTcpServer(parent) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QHash<QString, int> m_perAddress;
};

class ScoreService : public QAbstractHttpServer {
    Q_OBJECT
public:
    struct Options {
        QString database;
        int rateLimitPerMinute = 10;
        bool log = true;
    };
    explicit ScoreService(const Options& options, QObject* parent = nullptr);

    bool isReady() const { return m_store.isOpen(); }
    QString storeError() const { return m_store.lastError(); }
    // Starts listening on address:port; returns the port, 0 on failure.
    quint16 listenOn(const QHostAddress& address, quint16 port);

    // The game's page: world records and the best submissions of each board, HTML-escaped once.
    QByteArray gamePage();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    QByteArray exchange(const QHttpServerRequest& request, int* status);

    ScoreStore m_store;
    RateLimiter m_limiter;
    bool m_log;
};

} // namespace zimble::server
