#pragma once
// What must hold for any bytes given to the request parser, checked by the fuzzer and by the
// corpus replay: a status only from the documented set, consumed counts inside the input, and
// the same outcome for every prefix (a prefix is "need more" or exactly what the whole gets).

#include "server/http/requestparser.h"

#include <QByteArray>

#include <algorithm>
#include <vector>

namespace zimble::fuzz {

using server::ParseResult;
using server::parseRequest;

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
    for (qsizetype k : {qsizetype(2048), qsizetype(2049), qsizetype(16383), qsizetype(16384), qsizetype(16385), size - 1})
        if (k >= 0 && k < size)
            points.push_back(k);
    return points;
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
        for (qsizetype k : splitPoints(data.size())) {
            const ParseResult part = parseRequest(data.first(k));
            const QByteArray at = " at a split after " + QByteArray::number(k) + " bytes";
            switch (whole.kind) {
            case Kind::NeedMore:
                if (part.kind != Kind::NeedMore)
                    return "a prefix decided what the whole did not" + at;
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
