#include "inet.h"

#include "codepage.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace zimble {

Inet::Inet(QObject* parent)
    : QObject(parent)
    , m_nam(new QNetworkAccessManager(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        fail(QNetworkReply::TimeoutError,
             QStringLiteral("The score service did not answer within %1 seconds.").arg(m_timeoutMs / 1000.0));
    });
}

Inet::~Inet()
{
    Cancel();
}

QString Inet::GetChunk(int size) const
{
    return fromCp1252(m_body.left(qBound(0, size, MaxChunk)));
}

void Inet::setState(qint16 state)
{
    emit StateChanged(state);
}

bool Inet::Execute(const QString& operation)
{
    if (m_running)
        return false;
    m_running = true;
    m_receiving = false;
    m_body.clear();
    m_errorCode = 0;
    m_errorText.clear();
    ++m_generation;
    m_timer->start(m_timeoutMs);

    if (operation.compare(QStringLiteral("GET"), Qt::CaseInsensitive) != 0 || !m_url.isValid() || m_url.host().isEmpty()) {
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
        setState(1);
        if (!m_running || gen != m_generation)
            return;
        m_lookupId = QHostInfo::lookupHost(m_url.host(), this, [this, gen](const QHostInfo& info) {
            m_lookupId = -1;
            if (gen != m_generation || !m_running)
                return;
            if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
                fail(QNetworkReply::HostNotFoundError,
                     QStringLiteral("The host %1 could not be found (%2).").arg(m_url.host(), info.errorString()));
                return;
            }
            setState(2);
            if (gen == m_generation && m_running)
                startRequest();
        });
    });
    return true;
}

void Inet::startRequest()
{
    QNetworkRequest request(m_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    m_reply = m_nam->get(request);
    QNetworkReply* reply = m_reply;
    connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] { setState(3); });
    connect(reply, &QNetworkReply::requestSent, this, [this] { setState(6); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (!m_receiving) {
            m_receiving = true;
            setState(7);
        }
        // Keep the first 1024 bytes; the rest is read and dropped.
        const QByteArray data = reply->readAll();
        if (m_body.size() < MaxChunk)
            m_body.append(data.left(MaxChunk - m_body.size()));
    });
    connect(reply, &QNetworkReply::finished, this, &Inet::finishReply);
}

void Inet::finishReply()
{
    QNetworkReply* reply = m_reply;
    if (!reply || !m_running)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const QByteArray rest = reply->readAll();
    if (m_body.size() < MaxChunk)
        m_body.append(rest.left(MaxChunk - m_body.size()));

    if (reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 400) {
            fail(status, QStringLiteral("The score service answered %1 %2.")
                             .arg(status)
                             .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
        } else {
            fail(reply->error(), reply->errorString());
        }
        return;
    }
    m_timer->stop();
    setState(8);
    m_running = false;
    setState(12);
}

void Inet::fail(int code, const QString& text)
{
    if (!m_running)
        return;
    Cancel();
    m_errorCode = code;
    m_errorText = text;
    m_body.clear();
    setState(11);
}

void Inet::Cancel()
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
