#pragma once
// The HTTP/1.1 request parser: bytes in; a complete request, "need more" or an error status out,
// and how many bytes it took. No sockets, no timers, no state between calls: the connection
// hands it everything it has not consumed yet, as often as it likes.
//
// Every limit is checked at the first byte that breaks it, and the first broken rule in the
// byte stream decides the status. So a prefix of a request is either "need more" or the very
// error the whole request gets, however the bytes were split on the way.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <utility>

namespace zimble::server {

struct RequestLimits {
    static constexpr qsizetype MaxHeadBytes = 16 * 1024;   // request line, fields and the empty line: 431
    static constexpr qsizetype MaxTargetLength = 2048;     // 414
    static constexpr qint64 MaxBodyBytes = 16 * 1024;      // Content-Length: 413
    static constexpr int MaxHeaderFields = 100;            // 431
    static constexpr qsizetype MaxMethodLength = 7;        // the longest method known; longer ones get 501
};

struct ParsedRequest {
    QByteArray method;
    QByteArray target;
    QByteArray path;   // the target up to "?", still percent-encoded
    QByteArray query;  // after "?", still percent-encoded
    QList<std::pair<QByteArray, QByteArray>> headers; // names in lower case, values trimmed
    bool close = false;          // HTTP/1.0, or "close" among the Connection tokens
    bool expectContinue = false; // Expect: 100-continue
    qint64 bodyLength = 0;
    QByteArray body;
};

struct ParseResult {
    enum class Kind {
        NeedMore,  // nothing wrong so far; more bytes are needed
        NeedBody,  // the head is complete and good, its body has not all arrived (see request)
        Request,   // a complete request: `consumed` bytes (head and body)
        Error,     // `status` and `message`; the connection cannot be read further
    };
    Kind kind = Kind::NeedMore;
    qsizetype consumed = 0;  // Request: bytes of the request; NeedBody: head bytes
    int status = 0;
    QByteArray message;
    ParsedRequest request;   // Request and NeedBody (without the body)
};

ParseResult parseRequest(QByteArrayView input);

} // namespace zimble::server
