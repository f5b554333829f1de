#include "router.h"

namespace zimble::server {

void Router::add(const QByteArray& path, Match match, const QByteArray& name, Handler handler, Origins origins)
{
    m_routes.append({path, match, name, std::move(handler), origins});
}

const Router::Route* Router::find(const QByteArray& path) const
{
    for (const Route& r : m_routes) {
        if (r.match == Match::Exact ? path == r.path : path.startsWith(r.path))
            return &r;
    }
    return nullptr;
}

QByteArray Router::nameOf(const QByteArray& path) const
{
    const Route* r = find(path);
    return r ? r->name : QByteArray("other");
}

Router::Decision Router::route(const HttpRequest& request) const
{
    const Route* r = find(request.path);
    const bool crossOrigin = r && r->origins == Origins::Any;
    Decision d;
    if (crossOrigin && request.method == "OPTIONS") {
        // A browser asks before it lets a page of another origin send a request.
        d.reply.status = 204;
        d.reply.contentType.clear();
        d.reply.headers = {{"Access-Control-Allow-Origin", "*"},
                           {"Access-Control-Allow-Methods", "GET, HEAD, OPTIONS"},
                           {"Access-Control-Allow-Headers", "If-None-Match"},
                           {"Access-Control-Max-Age", QByteArray::number(PreflightMaxAgeSeconds)},
                           {"Cache-Control", "no-store"},
                           {"Allow", "GET, HEAD, OPTIONS"}};
        return d;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        d.reply.status = 405;
        d.reply.body = "Only GET and HEAD are served here.\n";
        d.reply.headers.append(std::pair<QByteArray, QByteArray>("Allow", crossOrigin ? "GET, HEAD, OPTIONS" : "GET, HEAD"));
        return d;
    }
    if (!r) {
        d.reply.status = 404;
        d.reply.body = "Not found.\n";
        return d;
    }
    d.handler = r->handler;
    return d;
}

} // namespace zimble::server
