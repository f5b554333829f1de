#pragma once
// Asynchronous HTTP GET reporting each step it can observe as a numbered state:
// 1 looking up the host, 2 host found, 3 connecting, 6 request sent, 7 receiving,
// 8 response received, then exactly one of 12 (completed) or 11 (error).

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace zimble {

class Inet : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 20000;
    static constexpr int MaxChunk = 1024;

    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    void setURL(const QUrl& url) { m_url = url; }
    QUrl URL() const { return m_url; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    // Starts the request and returns at once. Returns false, doing nothing, while one is running.
    bool Execute(const QString& operation = QStringLiteral("GET"));
    bool StillExecuting() const { return m_running; }
    // Abandons a running transfer; no further state is reported for it.
    void Cancel();

    // After state 11: a numeric code and a text.
    int ResponseCode() const { return m_errorCode; }
    QString ResponseInfo() const { return m_errorText; }
    // After state 12: up to `size` (at most 1024) bytes of the body, as Windows-1252 text.
    QString GetChunk(int size = MaxChunk) const;

signals:
    void StateChanged(qint16 State);

private:
    void startRequest();
    void fail(int code, const QString& text);
    void finishReply();
    void setState(qint16 state);

    QNetworkAccessManager* m_nam = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer* m_timer = nullptr;
    QUrl m_url;
    QByteArray m_body;
    int m_lookupId = -1;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_errorCode = 0;
    QString m_errorText;
    bool m_running = false;
    bool m_receiving = false;
    quint64 m_generation = 0;
};

} // namespace zimble
