#pragma once
// Helpers shared by the score service's tests: a GET with its status, body and type, and the
// target of a valid submission.

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStringList>
#include <QUrl>

namespace zimble::test {

struct Reply {
    int status = 0;
    QByteArray body;
    QByteArray type;
    QByteArray etag;
    QByteArray policy; // Content-Security-Policy
    QStringList fields() const { return QString::fromLatin1(body).split(QLatin1Char('|')); }
};

inline Reply get(quint16 port, const QByteArray& target, const QByteArray& ifNoneMatch = {})
{
    static QNetworkAccessManager nam;
    QNetworkRequest req(QUrl::fromEncoded("http://127.0.0.1:" + QByteArray::number(port) + target, QUrl::StrictMode));
    if (!ifNoneMatch.isEmpty())
        req.setRawHeader("If-None-Match", ifNoneMatch);
    QNetworkReply* r = nam.get(req);
    QSignalSpy done(r, &QNetworkReply::finished);
    if (!r->isFinished())
        done.wait(10000);
    Reply out;
    out.status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = r->readAll();
    out.type = r->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    out.etag = r->rawHeader("ETag");
    out.policy = r->rawHeader("Content-Security-Policy");
    r->deleteLater();
    return out;
}

inline QByteArray target(qint64 a, qint64 b, qint64 c, qint64 d, const QByteArray& name)
{
    const qint64 check = 2 * a + 3 * b + 5 * c + 4 * d;
    return "/zm2.asp?" + QByteArray::number(a) + '&' + QByteArray::number(b) + '&' + QByteArray::number(c) + '&'
        + QByteArray::number(d) + '&' + name + '&' + QByteArray::number(check);
}

} // namespace zimble::test
