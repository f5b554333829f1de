#pragma once
// Which part of the service answers a request.

#include "server/http/http.h"

#include <QByteArray>
#include <QList>

#include <functional>

namespace zimble::server {

// Invariant: one table of routes decides both which handler answers a request and the route it
// is counted under in the metrics, so the two never disagree; every request gets exactly one
// answer: its route's handler, a CORS preflight answer (routes open to other origins), 405 for
// a method the route does not serve, or 404.
class Router {
public:
    using Handler = std::function<void(const HttpRequest&, const HttpResponder&, qint64 startedNs)>;
    enum class Match { Exact, Prefix };
    enum class Origins { Own, Any }; // Any: pages of other origins may read it (CORS)

    // The first added route that matches a path answers it.
    void add(const QByteArray& path, Match match, const QByteArray& name, Handler handler, Origins origins = Origins::Own);

    // The route's name for the metrics: "other" when no route matches.
    QByteArray nameOf(const QByteArray& path) const;

    // What answers the request: a handler, or (handler empty) a reply made here.
    struct Decision {
        Handler handler;
        HttpResponse reply;
    };
    Decision route(const HttpRequest& request) const;

    static constexpr int PreflightMaxAgeSeconds = 86400;

private:
    struct Route {
        QByteArray path;
        Match match;
        QByteArray name;
        Handler handler;
        Origins origins;
    };
    const Route* find(const QByteArray& path) const;
    QList<Route> m_routes;
};

} // namespace zimble::server
