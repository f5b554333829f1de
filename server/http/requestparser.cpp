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

} // namespace

ParseResult parseRequest(QByteArrayView input)
{
    RequestParser parser;
    return parser.parse(input);
}

ParseResult RequestParser::fail(int status, const char* message)
{
    m_state = State::Failed;
    m_status = status;
    m_message = message;
    ParseResult r;
    r.kind = ParseResult::Kind::Error;
    r.status = status;
    r.message = m_message;
    return r;
}

// Takes the finished field in m_name and m_value; false when its Content-Length is malformed or
// disagrees with an earlier one.
bool RequestParser::takeField()
{
    const QByteArray name = m_name.toLower();
    const QByteArray value = m_value.trimmed();
    Framing& f = m_framing;
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
            m_request.close = m_request.close || token.trimmed().toLower() == "close";
    } else if (name == "expect") {
        // Every expectation of every Expect field counts: one not understood refuses the request.
        f.hasExpect = true;
        for (const QByteArray& item : value.split(','))
            f.otherExpectation = f.otherExpectation || item.trimmed().toLower() != "100-continue";
    }
    m_request.headers.append({name, value});
    return true;
}

// The rules that need the whole head, checked once its empty line has been read.
ParseResult RequestParser::finishHead()
{
    if (m_framing.hasEncoding) {
        // With Content-Length as well this is the shape of request smuggling; alone, no request
        // served here has a body to encode.
        return m_framing.hasLength ? fail(400, "Both Transfer-Encoding and Content-Length.\n")
                                   : fail(501, "Transfer-Encoding is not supported.\n");
    }
    if (m_version == "HTTP/1.1" && m_framing.hosts != 1)
        return fail(400, "Exactly one Host header is required.\n");
    if (m_framing.length > RequestLimits::MaxBodyBytes)
        return fail(413, "Request body too large.\n");
    if (m_version == "HTTP/1.1" && m_framing.otherExpectation)
        return fail(417, "Only \"Expect: 100-continue\" is understood.\n");
    // An HTTP/1.0 client does not know the interim reply and sends its body unasked.
    m_request.expectContinue = m_version == "HTTP/1.1" && m_framing.hasExpect;
    m_request.bodyLength = m_framing.length;
    m_state = State::Body;
    return {};
}

ParseResult RequestParser::parse(QByteArrayView input)
{
    if (m_state == State::Failed) {
        ParseResult r;
        r.kind = ParseResult::Kind::Error;
        r.status = m_status;
        r.message = m_message;
        return r;
    }

    if (m_state != State::Body) {
        // The head is read from at most MaxHeadBytes bytes: a rule broken inside them decides the
        // status; a head not finished within them gets 431.
        const qsizetype n = std::min(input.size(), RequestLimits::MaxHeadBytes);
        Q_ASSERT(m_pos <= input.size());
        const char* in = input.data();
        ParsedRequest& req = m_request;

        qsizetype p = m_pos;
        for (; p < n && m_headEnd < 0; ++p) {
            const char c = in[p];
            // Line ends: CRLF or LF; a CR followed by anything else is refused where it stands.
            qsizetype endLength = 0;
            if (c == '\n') {
                endLength = 1;
            } else if (c == '\r') {
                if (p + 1 == n)
                    break; // the LF may still come: this CR is examined again with it
                if (in[p + 1] != '\n')
                    return fail(400, "Malformed request: a CR not followed by LF.\n");
                endLength = 2;
            }
            const bool lineEnd = endLength > 0;

            switch (m_state) {
            case State::Blank: // empty lines before a request are allowed
                if (lineEnd)
                    break;
                m_state = State::Method;
                [[fallthrough]];
            case State::Method:
                if (c == ' ') {
                    if (req.method.isEmpty())
                        return fail(400, "Malformed request line.\n");
                    if (!isKnownMethod(req.method))
                        return fail(501, "Unknown method.\n");
                    m_state = State::Target;
                } else if (isTokenChar(c)) {
                    if (req.method.size() == RequestLimits::MaxMethodLength)
                        return fail(501, "Unknown method.\n");
                    req.method += c;
                } else {
                    return fail(400, "Malformed request line.\n");
                }
                break;
            case State::Target:
                if (c == ' ') {
                    if (req.target.isEmpty())
                        return fail(400, "Malformed request line.\n");
                    QByteArray originForm = req.target;
                    if (originForm.startsWith("http://") || originForm.startsWith("https://")) {
                        // The authority ends at the path or, without a path, at the query.
                        const qsizetype authority = originForm.indexOf("//") + 2;
                        qsizetype end = authority;
                        while (end < originForm.size() && originForm[end] != '/' && originForm[end] != '?')
                            ++end;
                        originForm = end < originForm.size() && originForm[end] == '/'
                            ? originForm.mid(end)
                            : QByteArray("/").append(originForm.mid(end));
                    }
                    if (!originForm.startsWith('/') && originForm != "*")
                        return fail(400, "Malformed request target.\n");
                    const qsizetype q = originForm.indexOf('?');
                    req.path = q < 0 ? originForm : originForm.left(q);
                    req.query = q < 0 ? QByteArray() : originForm.mid(q + 1);
                    m_state = State::Version;
                } else if (lineEnd || uchar(c) <= 0x20 || uchar(c) >= 0x7F) {
                    return fail(400, lineEnd ? "Malformed request line.\n" : "Malformed request target.\n");
                } else {
                    if (req.target.size() == RequestLimits::MaxTargetLength)
                        return fail(414, "Request target too long.\n");
                    req.target += c;
                }
                break;
            case State::Version:
                if (lineEnd) {
                    if (m_version.size() != 8)
                        return fail(400, "Malformed request line.\n");
                    if (m_version != "HTTP/1.1" && m_version != "HTTP/1.0")
                        return fail(505, "Only HTTP/1.0 and HTTP/1.1 are served.\n");
                    req.close = m_version == "HTTP/1.0";
                    m_state = State::FieldStart;
                } else {
                    const qsizetype i = m_version.size();
                    const bool ok = i < 5 ? c == "HTTP/"[i] : i == 6 ? c == '.' : i < 8 && c >= '0' && c <= '9';
                    if (!ok)
                        return fail(400, "Malformed request line.\n");
                    m_version += c;
                }
                break;
            case State::FieldStart:
                if (lineEnd) {
                    m_headEnd = p + endLength;
                    break;
                }
                if (c == ' ' || c == '\t')
                    return fail(400, "Malformed header field: folded or indented.\n");
                if (m_fields == RequestLimits::MaxHeaderFields)
                    return fail(431, "Too many header fields.\n");
                ++m_fields;
                m_name.clear();
                m_value.clear();
                m_state = State::FieldName;
                [[fallthrough]];
            case State::FieldName:
                if (c == ':') {
                    if (m_name.isEmpty())
                        return fail(400, "Malformed header field: no name.\n");
                    m_state = State::FieldValue;
                } else if (isTokenChar(c)) {
                    m_name += c;
                } else {
                    return fail(400, "Malformed header field.\n");
                }
                break;
            case State::FieldValue:
                if (lineEnd) {
                    if (!takeField())
                        return fail(400, "Malformed Content-Length.\n");
                    m_state = State::FieldStart;
                } else if (c == '\t' || (uchar(c) >= 0x20 && uchar(c) != 0x7F)) {
                    m_value += c;
                } else {
                    return fail(400, "Malformed header field: a control character in its value.\n");
                }
                break;
            case State::Body:
            case State::Failed:
                Q_UNREACHABLE();
            }
            p += endLength > 1 ? endLength - 1 : 0;
        }
        m_pos = p;

        if (m_headEnd < 0) {
            if (input.size() > RequestLimits::MaxHeadBytes)
                return fail(431, "Request head too large.\n");
            ParseResult more;
            more.started = m_state != State::Blank;
            return more;
        }
        const ParseResult failed = finishHead();
        if (failed.kind == ParseResult::Kind::Error)
            return failed;
    }

    ParseResult r;
    r.request = m_request;
    if (input.size() - m_headEnd < m_framing.length) {
        r.kind = ParseResult::Kind::NeedBody;
        r.consumed = m_headEnd;
    } else {
        r.request.body = input.sliced(m_headEnd, m_framing.length).toByteArray();
        r.kind = ParseResult::Kind::Request;
        r.consumed = m_headEnd + m_framing.length;
    }
    return r;
}

} // namespace zimble::server
