#pragma once
// The HTTP/1.1 request parser: bytes in; a complete request, "need more" or an error status out,
// and how many bytes it took. No sockets and no timers. parseRequest() keeps no state between
// calls; RequestParser is the same parser resumable, for a connection whose request arrives in
// pieces: it goes on from where the last call stopped, so each byte is examined once.
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
    static constexpr qsizetype MaxTargetLength = 8192;     // 414; four replays of full 7 x 7 games fit
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
    bool expectContinue = false; // HTTP/1.1 with "Expect: 100-continue": the client waits for 100 Continue
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
    bool started = false;    // NeedMore: a request has begun, beyond the empty lines allowed before it
    int status = 0;
    QByteArray message;
    ParsedRequest request;   // Request and NeedBody (without the body)
};

// Parses one request from the start of `input`, from scratch.
ParseResult parseRequest(QByteArrayView input);

// One request parsed as its bytes arrive. Each call is given all the request's bytes so far (the
// bytes given before, unchanged, and perhaps more after them) and answers exactly what
// parseRequest() would for the same input. Once the answer is Request or Error it stays so
// (Request as long as the input still holds the body); reset() starts on the next request.
class RequestParser {
public:
    ParseResult parse(QByteArrayView input);
    void reset() { *this = RequestParser(); }

private:
    enum class State { Blank, Method, Target, Version, FieldStart, FieldName, FieldValue, Body, Failed };
    // The fields' meaning, gathered as they are read.
    struct Framing {
        int hosts = 0;
        bool hasLength = false;
        bool hasEncoding = false;
        bool hasExpect = false;
        bool otherExpectation = false; // an expectation other than 100-continue
        qint64 length = 0;
    };

    ParseResult fail(int status, const char* message);
    bool takeField();
    ParseResult finishHead();

    State m_state = State::Blank;
    qsizetype m_pos = 0;      // the first byte not examined yet
    qsizetype m_headEnd = -1; // after the head's empty line, once read
    int m_fields = 0;
    ParsedRequest m_request;
    Framing m_framing;
    QByteArray m_version, m_name, m_value;
    int m_status = 0;          // Failed: the error
    QByteArray m_message;
};

} // namespace zimble::server
