// libFuzzer target: one connection over a socket pair. The input is written in pieces (their
// sizes come from the first byte), the client then ends its side; every reply must be well
// formed, in order, and exactly what the parser says the bytes ask for: one reply per complete
// request up to the first refusal or close (the last one may be a 429 when too much is
// unanswered), and the service must end the connection.
#include "server/http/http.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zimble::server;

namespace {

struct Expected {
    int status;
    bool head;
};

[[noreturn]] void fail(const char* what, const QByteArray& got)
{
    std::fprintf(stderr, "connection rule broken: %s\n--- replies ---\n%s\n", what, got.left(2000).constData());
    std::abort();
}

class FuzzServer : public HttpServer {
public:
    FuzzServer()
        : HttpServer([this](const HttpRequest& r, const HttpResponder& w) { answer(r, w); })
    {
    }
    using HttpServer::incomingConnection;

private:
    void answer(const HttpRequest& request, const HttpResponder& responder)
    {
        HttpResponse r;
        r.body = "ok " + request.path.left(20) + "\n";
        // Every other reply comes later, as stored submissions do.
        if (++m_count % 2)
            responder.send(r);
        else
            QTimer::singleShot(0, this, [responder, r] { responder.send(r); });
    }
    int m_count = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // libFuzzer calls this once per input in one process: the application and the server are
    // made on the first call and kept, as a Qt application can be made only once.
    static int argc = 1;
    static char name[] = "connection_fuzzer";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static FuzzServer server;
    if (size == 0)
        return 0;
    const qsizetype piece = 1 + data[0] * 37;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // What the replies must be, from the parser.
    QList<Expected> expected;
    for (QByteArrayView rest = input;;) {
        const ParseResult p = parseRequest(rest);
        if (p.kind == ParseResult::Kind::Error) {
            expected.append({p.status, false});
            break;
        }
        if (p.kind != ParseResult::Kind::Request)
            break;
        expected.append({200, p.request.method == "HEAD"});
        if (p.request.close)
            break;
        rest = rest.sliced(p.consumed);
    }

    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        std::abort();
    server.incomingConnection(sv[0]);
    QByteArray got;
    auto pump = [&](int timeoutMs) {
        QCoreApplication::processEvents();
        pollfd pfd{sv[1], POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) > 0) {
            char buffer[65536];
            const ssize_t n = ::recv(sv[1], buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                got.append(buffer, n);
            return n != 0;
        }
        return true;
    };
    for (qsizetype from = 0; from < input.size(); from += piece) {
        const QByteArray part = input.mid(from, piece);
        if (::send(sv[1], part.constData(), size_t(part.size()), MSG_NOSIGNAL) < 0)
            break; // the service closed after a refusal
        pump(0);
    }
    ::shutdown(sv[1], SHUT_WR);
    bool open = true;
    for (int i = 0; i < 4000 && open; ++i)
        open = pump(1);
    if (open)
        fail("the connection was not ended after the client's end", got);
    ::close(sv[1]);
    QCoreApplication::processEvents(); // deleteLater of the connection
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Read the replies.
    qsizetype pos = 0;
    int index = 0;
    while (pos < got.size()) {
        const qsizetype end = got.indexOf("\r\n\r\n", pos);
        if (end < 0)
            fail("a reply head without its end", got);
        const QByteArray head = got.mid(pos, end - pos);
        if (!head.startsWith("HTTP/1.1 ") || head.size() < 12)
            fail("a reply not starting with a status line", got);
        const int status = head.mid(9, 3).toInt();
        pos = end + 4;
        if (status == 100)
            continue;
        if (index >= expected.size() && status != 429)
            fail("more replies than requests", got);
        const bool last429 = status == 429;
        if (!last429 && status != expected[index].status)
            fail("a reply with another status than the parser's", got);
        const qsizetype cl = head.indexOf("\r\nContent-Length: ");
        if (cl < 0)
            fail("a reply without Content-Length", got);
        const qint64 length = head.mid(cl + 18, head.indexOf('\r', cl + 2) - cl - 18).toLongLong();
        if (!(index < expected.size() && expected[index].head && status == 200))
            pos += length;
        ++index;
        if (last429 || status >= 400) {
            if (!head.contains("\r\nConnection: close"))
                fail("a refusal that does not close", got);
            if (pos != got.size())
                fail("bytes after the last reply", got);
        }
    }
    if (pos > got.size())
        fail("a body cut short", got);
    if (index < expected.size() && !(index > 0 && got.contains(" 429 ")))
        fail("fewer replies than complete requests", got);
    return 0;
}
