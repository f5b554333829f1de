#pragma once
// What must hold for any bytes given to the request parser, checked by the fuzzer and by the
// corpus replay: a status only from the documented set, consumed counts inside the input, and
// the same outcome for every prefix (a prefix is "need more" or exactly what the whole gets; a
// request once begun stays begun),
// and the resumable parser, given the bytes one more at a time, answering at every step exactly
// what a fresh parse of the same bytes does.

#include "server/http/requestparser.h"

#include <QByteArray>

#include <algorithm>
#include <vector>

namespace zimble::fuzz {

using server::ParseResult;
using server::parseRequest;
using server::RequestParser;

inline bool documentedStatus(int status)
{
    for (int s : {400, 408, 413, 414, 417, 431, 501, 505})
        if (s == status)
            return true;
    return false;
}

// The split points tried: every one for short inputs, a spread of them otherwise.
inline std::vector<qsizetype> splitPoints(qsizetype size)
{
    std::vector<qsizetype> points;
    if (size <= 600) {
        for (qsizetype k = 0; k < size; ++k)
            points.push_back(k);
        return points;
    }
    for (qsizetype k = 0; k < size; k += std::max<qsizetype>(1, size / 97))
        points.push_back(k);
    for (qsizetype k : {qsizetype(8192), qsizetype(8193), qsizetype(16383), qsizetype(16384), qsizetype(16385), size - 1})
        if (k >= 0 && k < size)
            points.push_back(k);
    return points;
}

// An empty text when both answers are the same in every part; else the first difference.
inline QByteArray difference(const ParseResult& a, const ParseResult& b)
{
    if (a.kind != b.kind)
        return "kind " + QByteArray::number(int(a.kind)) + " against " + QByteArray::number(int(b.kind));
    if (a.consumed != b.consumed || a.status != b.status || a.message != b.message || a.started != b.started)
        return "consumed " + QByteArray::number(a.consumed) + " against " + QByteArray::number(b.consumed) + ", status "
            + QByteArray::number(a.status) + " against " + QByteArray::number(b.status) + ", \"" + a.message.trimmed() + "\" against \""
            + b.message.trimmed() + "\"";
    const server::ParsedRequest &x = a.request, &y = b.request;
    if (x.method != y.method || x.target != y.target || x.path != y.path || x.query != y.query || x.headers != y.headers
        || x.close != y.close || x.expectContinue != y.expectContinue || x.bodyLength != y.bodyLength || x.body != y.body)
        return "a different request";
    return {};
}

// Feeds `data` to one resumable parser a byte more at a time; at the split points and at the end
// its answer must be what a fresh parse of those bytes gives.
inline QByteArray checkResumed(QByteArrayView data)
{
    std::vector<qsizetype> points = splitPoints(data.size());
    points.push_back(data.size());
    std::sort(points.begin(), points.end());
    RequestParser resumed;
    auto next = points.begin();
    for (qsizetype k = 0; k <= data.size(); ++k) {
        const ParseResult got = resumed.parse(data.first(k));
        if (next == points.end() || *next != k)
            continue;
        while (next != points.end() && *next == k)
            ++next;
        const QByteArray diff = difference(got, parseRequest(data.first(k)));
        if (!diff.isEmpty())
            return "resumed after " + QByteArray::number(k) + " bytes: " + diff;
    }
    return {};
}

// An empty text when every rule holds; else what broke. Checks up to `maxRequests` pipelined requests.
inline QByteArray checkParser(QByteArrayView data, int maxRequests = 8)
{
    for (int n = 0; n < maxRequests; ++n) {
        const ParseResult whole = parseRequest(data);
        using Kind = ParseResult::Kind;
        if (whole.kind == Kind::Error && !documentedStatus(whole.status))
            return "undocumented status " + QByteArray::number(whole.status);
        if (whole.kind == Kind::Error && whole.message.isEmpty())
            return "an error without words";
        if ((whole.kind == Kind::Request || whole.kind == Kind::NeedBody) && (whole.consumed <= 0 || whole.consumed > data.size()))
            return "consumed " + QByteArray::number(whole.consumed) + " of " + QByteArray::number(data.size());
        if (whole.kind == Kind::NeedBody && whole.consumed + whole.request.bodyLength <= data.size())
            return "asks for a body that is there";
        if (const QByteArray resumed = checkResumed(data); !resumed.isEmpty())
            return resumed;
        for (qsizetype k : splitPoints(data.size())) {
            const ParseResult part = parseRequest(data.first(k));
            const QByteArray at = " at a split after " + QByteArray::number(k) + " bytes";
            switch (whole.kind) {
            case Kind::NeedMore:
                if (part.kind != Kind::NeedMore)
                    return "a prefix decided what the whole did not" + at;
                if (part.started && !whole.started)
                    return "a prefix began a request that the whole has not" + at;
                break;
            case Kind::NeedBody:
                if (part.kind != Kind::NeedMore && part.kind != Kind::NeedBody)
                    return "a prefix of an unfinished body decided" + at;
                break;
            case Kind::Error:
                if (part.kind == Kind::Request || (part.kind == Kind::Error && part.status != whole.status))
                    return "status " + QByteArray::number(whole.status) + " whole but "
                        + (part.kind == Kind::Error ? QByteArray::number(part.status) : QByteArray("a request")) + at;
                break;
            case Kind::Request:
                if (k < whole.consumed && part.kind != Kind::NeedMore && part.kind != Kind::NeedBody)
                    return "a prefix of a good request was refused or taken" + at;
                if (k >= whole.consumed
                    && (part.kind != Kind::Request || part.consumed != whole.consumed || part.request.target != whole.request.target))
                    return "a different request from a prefix holding it all" + at;
                break;
            }
        }
        if (whole.kind != Kind::Request || whole.request.close)
            return {};
        data = data.sliced(whole.consumed);
    }
    return {};
}

} // namespace zimble::fuzz
