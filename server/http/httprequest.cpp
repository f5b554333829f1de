// HttpRequest's readers of its headers.
#include "http.h"

#include <optional>

namespace zimble::server {

QByteArray HttpRequest::header(const QByteArray& lowerName) const
{
    QByteArray out;
    for (const auto& [name, value] : headers) {
        if (name == lowerName) {
            if (!out.isEmpty())
                out += ", ";
            out += value;
        }
    }
    return out;
}

namespace {

// Calls `each` with every comma-separated item of every value of a header, trimmed, until it
// returns true; whether one did. Views into the request: nothing is copied.
template <typename Each>
bool anyItem(const HttpRequest& request, QByteArrayView lowerName, Each each)
{
    for (const auto& [name, value] : request.headers) {
        if (name != lowerName)
            continue;
        QByteArrayView rest(value);
        for (;;) {
            const qsizetype comma = rest.indexOf(',');
            if (each(rest.first(comma < 0 ? rest.size() : comma).trimmed()))
                return true;
            if (comma < 0)
                break;
            rest = rest.sliced(comma + 1);
        }
    }
    return false;
}

bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

} // namespace

bool HttpRequest::matchesTag(const QByteArray& tag) const
{
    return anyItem(*this, "if-none-match", [&](QByteArrayView t) {
        return t == "*" || t == tag || (t.startsWith("W/") && t.sliced(2) == tag);
    });
}

bool HttpRequest::acceptsGzip() const
{
    // The first item naming gzip decides: refused only by a q of zero (or one not a number).
    std::optional<bool> accepted;
    anyItem(*this, "accept-encoding", [&](QByteArrayView item) {
        const qsizetype semicolon = item.indexOf(';');
        if (!equalsIgnoringCase(item.first(semicolon < 0 ? item.size() : semicolon).trimmed(), "gzip"))
            return false;
        accepted = true;
        QByteArrayView parameters = semicolon < 0 ? QByteArrayView() : item.sliced(semicolon + 1);
        while (!parameters.isEmpty()) {
            const qsizetype next = parameters.indexOf(';');
            const QByteArrayView parameter = parameters.first(next < 0 ? parameters.size() : next).trimmed();
            if (parameter.size() >= 2 && equalsIgnoringCase(parameter.first(2), "q=")) {
                bool ok = false;
                const double q = parameter.sliced(2).toByteArray().toDouble(&ok);
                accepted = ok && q > 0;
                break;
            }
            parameters = next < 0 ? QByteArrayView() : parameters.sliced(next + 1);
        }
        return true;
    });
    return accepted.value_or(false);
}

} // namespace zimble::server
