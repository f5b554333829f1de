#pragma once
// An asynchronous HTTP GET that reports every step of the transfer as a state, in order and
// once each, and keeps the first 1,024 bytes of the response body.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace zimble {

class HttpTransfer : public QObject {
    Q_OBJECT
public:
    // The steps of one transfer. Each request runs through ResolvingHost to ResponseReceived in
    // order and ends in exactly one of Completed or Failed (earlier, on an error).
    enum class State {
        ResolvingHost = 1,
        HostResolved,
        Connecting,
        Connected,
        SendingRequest,
        RequestSent,
        ReceivingResponse,
        ResponseReceived,
        Disconnecting,
        Disconnected,
        Failed,
        Completed,
    };
    Q_ENUM(State)

    static constexpr int DefaultTimeoutMs = 20000;
    static constexpr int MaxBodySize = 1024;

    explicit HttpTransfer(QObject* parent = nullptr);
    ~HttpTransfer() override;

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    // Milliseconds since the running transfer started.
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    // Redirects followed at most in one transfer; only plain-HTTP addresses are followed.
    static constexpr int MaxRedirects = 5;

    // Starts a GET of `url` and returns at once; false, doing nothing, while one is running.
    bool start(const QUrl& url);
    bool isRunning() const { return m_running; }
    // Abandons a running transfer; no further state is reported for it.
    void cancel();

    QUrl url() const { return m_url; }
    // After Failed: a numeric code (the HTTP status, or a QNetworkReply error) and a sentence.
    // A service that cannot be reached is named by host and port with the reason in words:
    // "The score service at host:port could not be reached: connection refused."
    int errorCode() const { return m_errorCode; }
    QString errorText() const { return m_errorText; }
    // The HTTP status of the last response, 0 when none arrived.
    int httpStatus() const { return m_httpStatus; }
    // Up to 1,024 bytes of the body, as Windows-1252 text: after Completed, and after Failed
    // when the server answered with an error status.
    QString body() const;

signals:
    void stateChanged(zimble::HttpTransfer::State state);

private:
    enum BodyHandling { DropBody, KeepBody };
    void startRequest();
    void fail(int code, const QString& text, BodyHandling body = DropBody);
    // Ends the request once the reply has finished or all that may be kept has arrived.
    void conclude(QNetworkReply* reply);
    void report(State state);
    // "The score service at host:port could not be reached: <reason>."
    QString unreachable(const QString& reason) const;
    // Follows a redirect, or fails saying why it cannot; true when the transfer goes on.
    bool followRedirect(QNetworkReply* reply);
    // Reports every state after the last one reported, up to and including `state`.
    void advanceTo(State state);

    QNetworkAccessManager* m_nam = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_clock;
    QUrl m_url;
    QByteArray m_body;
    State m_lastReported = State::ResolvingHost;
    int m_lookupId = -1;
    int m_redirects = 0;
    int m_timeoutMs = DefaultTimeoutMs;
    int m_errorCode = 0;
    int m_httpStatus = 0;
    QString m_errorText;
    bool m_running = false;
    quint64 m_generation = 0;
};

} // namespace zimble
