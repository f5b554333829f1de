#include "httptransfer.h"

#include "codepage.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace zimble {

HttpTransfer::HttpTransfer(QObject* parent)
    : QObject(parent)
    , m_nam(new QNetworkAccessManager(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        fail(QNetworkReply::TimeoutError, unreachable(QStringLiteral("no answer within %1 s").arg(m_timeoutMs / 1000.0)));
    });
}

HttpTransfer::~HttpTransfer()
{
    cancel();
}

QString HttpTransfer::unreachable(const QString& reason) const
{
    const QString host = m_url.host().contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(m_url.host()) : m_url.host();
    return QStringLiteral("The score service at %1:%2 could not be reached: %3.").arg(host).arg(m_url.port(80)).arg(reason);
}

QString HttpTransfer::body() const
{
    return fromCp1252(m_body.left(MaxBodySize));
}

void HttpTransfer::report(State state)
{
    m_lastReported = state;
    emit stateChanged(state);
}

void HttpTransfer::advanceTo(State state)
{
    // A reused connection skips connecting, and Qt does not tell "connected" and "sending"
    // apart from "sent": every step is still reported, once and in order.
    const quint64 gen = m_generation;
    while (m_running && gen == m_generation && m_lastReported < state)
        report(static_cast<State>(static_cast<int>(m_lastReported) + 1));
}

bool HttpTransfer::start(const QUrl& url)
{
    if (m_running)
        return false;
    m_url = url;
    m_running = true;
    m_body.clear();
    m_httpStatus = 0;
    m_errorCode = 0;
    m_errorText.clear();
    m_redirects = 0;
    m_clock.start();
    ++m_generation;
    m_timer->start(m_timeoutMs);

    if (!m_url.isValid() || m_url.host().isEmpty()) {
        const quint64 gen = m_generation;
        QTimer::singleShot(0, this, [this, gen] {
            if (gen == m_generation && m_running)
                fail(QNetworkReply::ProtocolUnknownError, QStringLiteral("The request could not be made."));
        });
        return true;
    }

    // Resolve the host first, so that the lookup is a step of its own.
    const quint64 gen = m_generation;
    QTimer::singleShot(0, this, [this, gen] {
        if (gen != m_generation || !m_running)
            return;
        report(State::ResolvingHost);
        if (!m_running || gen != m_generation)
            return;
        m_lookupId = QHostInfo::lookupHost(m_url.host(), this, [this, gen](const QHostInfo& info) {
            m_lookupId = -1;
            if (gen != m_generation || !m_running)
                return;
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                fail(QNetworkReply::HostNotFoundError, unreachable(QStringLiteral("host not found")));
                return;
            }
            report(State::HostResolved);
            if (gen == m_generation && m_running)
                startRequest();
        });
    });
    return true;
}

void HttpTransfer::startRequest()
{
    QNetworkRequest request(m_url);
    // Redirects are looked at here, so that one the game cannot follow ends the wait at once.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Ask for the body as it is: nothing is ever decompressed, so no reply can expand in memory.
    request.setRawHeader("Accept-Encoding", "identity");
    m_reply = m_nam->get(request);
    QNetworkReply* reply = m_reply;
    // Qt reads from the socket only as far as this buffer allows, so a server that sends without
    // end costs no memory: once the kept bytes are in, the request is ended.
    reply->setReadBufferSize(MaxBodySize);
    connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] { advanceTo(State::Connecting); });
    connect(reply, &QNetworkReply::requestSent, this, [this] { advanceTo(State::RequestSent); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        advanceTo(State::ReceivingResponse);
        if (!m_running || reply != m_reply)
            return;
        m_body.append(reply->read(MaxBodySize - m_body.size()));
        if (m_body.size() >= MaxBodySize)
            conclude(reply);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == m_reply)
            conclude(reply);
    });
}

void HttpTransfer::conclude(QNetworkReply* reply)
{
    if (!m_running)
        return;
    m_reply = nullptr;
    reply->disconnect(this);
    if (m_body.size() < MaxBodySize)
        m_body.append(reply->read(MaxBodySize - m_body.size()));
    const bool complete = reply->isFinished();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorString = reply->errorString();
    m_httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (!complete)
        reply->abort(); // all that may be kept is here; the rest is never read
    reply->deleteLater();

    if (m_httpStatus >= 300 && m_httpStatus < 400 && m_httpStatus != 304) {
        followRedirect(reply); // goes on, or fails saying why
        return;
    }
    if (m_httpStatus >= 400) {
        const QString phrase = reason.trimmed();
        fail(m_httpStatus,
             QStringLiteral("The score service answered %1%2.")
                 .arg(m_httpStatus)
                 .arg(phrase.isEmpty() ? QString() : QLatin1Char(' ') + phrase),
             KeepBody);
        return;
    }
    if (complete && error != QNetworkReply::NoError) {
        // Errors below 100 are those of the connection itself.
        if (error == QNetworkReply::ConnectionRefusedError)
            fail(error, unreachable(QStringLiteral("connection refused")));
        else if (error == QNetworkReply::HostNotFoundError)
            fail(error, unreachable(QStringLiteral("host not found")));
        else if (error == QNetworkReply::RemoteHostClosedError)
            fail(error, unreachable(QStringLiteral("the connection was closed before the answer came")));
        else if (error < 100)
            fail(error, unreachable(errorString.isEmpty() ? QStringLiteral("no connection")
                                                          : errorString.left(1).toLower() + errorString.mid(1)));
        else
            fail(error, errorString);
        return;
    }
    m_timer->stop();
    advanceTo(State::ResponseReceived);
    if (!m_running)
        return;
    m_running = false;
    report(State::Completed);
}

bool HttpTransfer::followRedirect(QNetworkReply* reply)
{
    const QByteArray location = reply->rawHeader("Location").trimmed();
    if (location.isEmpty()) {
        fail(m_httpStatus, QStringLiteral("The score service sent a redirect (%1) without an address to go to; the game "
                                          "cannot follow it.").arg(m_httpStatus));
        return false;
    }
    const QUrl target = m_url.resolved(QUrl::fromEncoded(location));
    if (target.scheme() != QLatin1String("http") || target.host().isEmpty()) {
        fail(m_httpStatus, QStringLiteral("The score service redirected to %1, which the game cannot follow: it speaks "
                                          "plain HTTP only.").arg(QString::fromLatin1(location.left(200))));
        return false;
    }
    if (++m_redirects > MaxRedirects) {
        fail(m_httpStatus, QStringLiteral("The score service redirected more than %1 times; the game stopped following.")
                               .arg(MaxRedirects));
        return false;
    }
    m_url = target;
    m_body.clear();
    m_httpStatus = 0;
    startRequest();
    return true;
}

void HttpTransfer::fail(int code, const QString& text, BodyHandling body)
{
    if (!m_running)
        return;
    cancel();
    m_errorCode = code;
    // The player always reads a reason after the code.
    QString t = text.trimmed();
    if (t.endsWith(QLatin1Char(':')))
        t.chop(1);
    m_errorText = t.isEmpty() ? QStringLiteral("The transfer failed without a reason given.") : t;
    if (body == DropBody)
        m_body.clear();
    report(State::Failed);
}

void HttpTransfer::cancel()
{
    if (!m_running)
        return;
    m_timer->stop();
    ++m_generation; // late callbacks of this transfer are ignored
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_running = false;
}

} // namespace zimble
