#include "requestparser.h"

#include <cstring>

namespace zimble::server {

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isKnownMethod(const QByteArray& m)
{
    static const char* const known[] = {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH"};
    for (const char* k : known) {
        if (m == k)
            return true;
    }
    return false;
}

ParseResult failure(int status, const char* message)
{
    ParseResult r;
    r.kind = ParseResult::Kind::Error;
    r.status = status;
    r.message = message;
    return r;
}

// The fields' meaning, gathered as they are read.
struct Framing {
    int hosts = 0;
    bool hasLength = false;
    bool hasEncoding = false;
    bool hasExpect = false;
    qint64 length = 0;
};

// Takes one finished field; false when its Content-Length is malformed or disagrees with an earlier one.
bool takeField(const QByteArray& name, const QByteArray& value, ParsedRequest& req, Framing& f)
{
    if (name == "host") {
        ++f.hosts;
    } else if (name == "content-length") {
        // Several values (in one field or in several) must all agree.
        for (const QByteArray& part : value.split(',')) {
            const QByteArray v = part.trimmed();
            bool ok = !v.isEmpty() && v.size() <= 15;
            for (char c : v)
                ok = ok && c >= '0' && c <= '9';
            if (!ok || (f.hasLength && v.toLongLong() != f.length))
                return false;
            f.hasLength = true;
            f.length = v.toLongLong();
        }
    } else if (name == "transfer-encoding") {
        f.hasEncoding = true;
    } else if (name == "connection") {
        for (const QByteArray& token : value.split(','))
            req.close = req.close || token.trimmed().toLower() == "close";
    } else if (name == "expect") {
        f.hasExpect = true;
        req.expectContinue = value.toLower() == "100-continue";
    }
    req.headers.append({name, value});
    return true;
}

} // namespace

ParseResult parseRequest(QByteArrayView input)
{
    // The head is read from at most MaxHeadBytes bytes: a rule broken inside them decides the
    // status; a head not finished within them gets 431.
    const QByteArrayView in = input.first(std::min(input.size(), RequestLimits::MaxHeadBytes));
    const qsizetype n = in.size();

    enum class State { Blank, Method, Target, Version, FieldStart, FieldName, FieldValue };
    State state = State::Blank;
    ParsedRequest req;
    Framing framing;
    QByteArray version, name, value;
    int fields = 0;
    qsizetype headEnd = -1;

    for (qsizetype p = 0; p < n && headEnd < 0; ++p) {
        const char c = in[p];
        // Line ends: CRLF or LF; a CR followed by anything else is refused where it stands.
        qsizetype endLength = 0;
        if (c == '\n') {
            endLength = 1;
        } else if (c == '\r') {
            if (p + 1 == n)
                break; // the LF may still come
            if (in[p + 1] != '\n')
                return failure(400, "Malformed request: a CR not followed by LF.\n");
            endLength = 2;
        }
        const bool lineEnd = endLength > 0;

        switch (state) {
        case State::Blank: // empty lines before a request are allowed
            if (lineEnd)
                break;
            state = State::Method;
            [[fallthrough]];
        case State::Method:
            if (c == ' ') {
                if (req.method.isEmpty())
                    return failure(400, "Malformed request line.\n");
                if (!isKnownMethod(req.method))
                    return failure(501, "Unknown method.\n");
                state = State::Target;
            } else if (isTokenChar(c)) {
                if (req.method.size() == RequestLimits::MaxMethodLength)
                    return failure(501, "Unknown method.\n");
                req.method += c;
            } else {
                return failure(400, "Malformed request line.\n");
            }
            break;
        case State::Target:
            if (c == ' ') {
                if (req.target.isEmpty())
                    return failure(400, "Malformed request line.\n");
                QByteArray originForm = req.target;
                if (originForm.startsWith("http://") || originForm.startsWith("https://")) {
                    const qsizetype slash = originForm.indexOf('/', originForm.indexOf("//") + 2);
                    originForm = slash < 0 ? QByteArray("/") : originForm.mid(slash);
                }
                if (!originForm.startsWith('/') && originForm != "*")
                    return failure(400, "Malformed request target.\n");
                const qsizetype q = originForm.indexOf('?');
                req.path = q < 0 ? originForm : originForm.left(q);
                req.query = q < 0 ? QByteArray() : originForm.mid(q + 1);
                state = State::Version;
            } else if (lineEnd || uchar(c) <= 0x20 || uchar(c) >= 0x7F) {
                return failure(400, lineEnd ? "Malformed request line.\n" : "Malformed request target.\n");
            } else {
                if (req.target.size() == RequestLimits::MaxTargetLength)
                    return failure(414, "Request target too long.\n");
                req.target += c;
            }
            break;
        case State::Version:
            if (lineEnd) {
                if (version.size() != 8)
                    return failure(400, "Malformed request line.\n");
                if (version != "HTTP/1.1" && version != "HTTP/1.0")
                    return failure(505, "Only HTTP/1.0 and HTTP/1.1 are served.\n");
                req.close = version == "HTTP/1.0";
                state = State::FieldStart;
            } else {
                const qsizetype i = version.size();
                const bool ok = i < 5 ? c == "HTTP/"[i] : i == 6 ? c == '.' : i < 8 && c >= '0' && c <= '9';
                if (!ok)
                    return failure(400, "Malformed request line.\n");
                version += c;
            }
            break;
        case State::FieldStart:
            if (lineEnd) {
                headEnd = p + endLength;
                break;
            }
            if (c == ' ' || c == '\t')
                return failure(400, "Malformed header field: folded or indented.\n");
            if (fields == RequestLimits::MaxHeaderFields)
                return failure(431, "Too many header fields.\n");
            ++fields;
            name.clear();
            value.clear();
            state = State::FieldName;
            [[fallthrough]];
        case State::FieldName:
            if (c == ':') {
                if (name.isEmpty())
                    return failure(400, "Malformed header field: no name.\n");
                state = State::FieldValue;
            } else if (isTokenChar(c)) {
                name += c;
            } else {
                return failure(400, "Malformed header field.\n");
            }
            break;
        case State::FieldValue:
            if (lineEnd) {
                if (!takeField(name.toLower(), value.trimmed(), req, framing))
                    return failure(400, "Malformed Content-Length.\n");
                state = State::FieldStart;
            } else if (c == '\t' || (uchar(c) >= 0x20 && uchar(c) != 0x7F)) {
                value += c;
            } else {
                return failure(400, "Malformed header field: a control character in its value.\n");
            }
            break;
        }
        p += endLength > 1 ? endLength - 1 : 0;
    }

    if (headEnd < 0) {
        if (input.size() > RequestLimits::MaxHeadBytes)
            return failure(431, "Request head too large.\n");
        return {};
    }

    if (framing.hasEncoding) {
        // With Content-Length as well this is the shape of request smuggling; alone, no request
        // served here has a body to encode.
        return framing.hasLength ? failure(400, "Both Transfer-Encoding and Content-Length.\n")
                                 : failure(501, "Transfer-Encoding is not supported.\n");
    }
    if (version == "HTTP/1.1" && framing.hosts != 1)
        return failure(400, "Exactly one Host header is required.\n");
    if (framing.length > RequestLimits::MaxBodyBytes)
        return failure(413, "Request body too large.\n");
    if (version == "HTTP/1.1" && framing.hasExpect && !req.expectContinue)
        return failure(417, "Only \"Expect: 100-continue\" is understood.\n");

    ParseResult r;
    req.bodyLength = framing.length;
    if (input.size() - headEnd < framing.length) {
        r.kind = ParseResult::Kind::NeedBody;
        r.consumed = headEnd;
    } else {
        req.body = input.sliced(headEnd, framing.length).toByteArray();
        r.kind = ParseResult::Kind::Request;
        r.consumed = headEnd + framing.length;
    }
    r.request = std::move(req);
    return r;
}

} // namespace zimble::server
