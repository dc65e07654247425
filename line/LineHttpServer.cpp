#include "LineHttpServer.h"

#include "LineFeed.h"
#include "RecordSchema.h"
#include "RecordStore.h"
#include "RequestGuard.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QUrlQuery>

namespace quobin::line {

namespace {

// The page's own files, by path: nothing else is ever opened.
struct Asset {
    const char *path;
    const char *resource;
    const char *type;
};
const Asset kAssets[] = {
    {"/", ":/line/index.html", "text/html; charset=utf-8"},
    {"/line.css", ":/line/line.css", "text/css; charset=utf-8"},
    {"/line.js", ":/line/line.js", "text/javascript; charset=utf-8"},
    {"/favicon.svg", ":/line/favicon.svg", "image/svg+xml"},
};

const QByteArray kSecurityHeaders =
    "X-Content-Type-Options: nosniff\r\n"
    "X-Frame-Options: DENY\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-store\r\n"
    "Content-Security-Policy: default-src 'self'; img-src 'self' data:; style-src 'self';"
    " script-src 'self'; connect-src 'self'; frame-ancestors 'none'; form-action 'none'\r\n";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 503: return "Service Unavailable";
    }
    return "Error";
}

QByteArray errorJson(const QString &text)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}}).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

LineHttpServer::LineHttpServer(LineFeed &feed, QObject *parent)
    : QAbstractHttpServer(parent), m_feed(feed)
{
    connect(&m_feed, &LineFeed::changed, this,
            [this](const QByteArray &snapshot) { sendToStreams(clockEvent() + "event: line\ndata: " + snapshot + "\n\n"); });
    // An event now and then keeps proxies and the browser from taking a
    // quiet stream for a dead one.
    m_keepAlive.setInterval(15000);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] { sendToStreams(clockEvent()); });
    m_keepAlive.start();
}

// The server's time as it sends: the page judges heartbeats by it, whatever
// the browser's own clock says.
QByteArray LineHttpServer::clockEvent() const
{
    return "event: clock\ndata: " + records::schema::timeText(m_feed.now()).toUtf8() + "\n\n";
}

void LineHttpServer::answer(QTcpSocket *socket, const QByteArray &body,
                            const QByteArray &type, int status)
{
    // Written here rather than by QHttpServerResponder, so that every
    // answer carries the same headers.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += kSecurityHeaders;
    if (status == 405)
        head += "Allow: GET\r\n";
    head += "\r\n";
    socket->write(head + body);
}

bool LineHttpServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString path = request.url().path(QUrl::FullyEncoded);
    if (request.method() != QHttpServerRequest::Method::Get) {
        answer(socket, errorJson(QStringLiteral("only GET")), "application/json", 405);
        return true;
    }
    for (const Asset &asset : kAssets)
        if (path == QLatin1String(asset.path)) {
            serveAsset(socket, QLatin1String(asset.resource));
            return true;
        }
    if (path == QLatin1String("/api/line")) {
        answer(socket, m_feed.snapshot() + '\n', "application/json", 200);
    } else if (path == QLatin1String("/api/records")) {
        serveRecords(request, socket);
    } else if (path == QLatin1String("/events")) {
        startStream(socket);
    } else {
        answer(socket, errorJson(QStringLiteral("not found")), "application/json", 404);
    }
    return true;
}

void LineHttpServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    answer(socket, errorJson(QStringLiteral("not found")), "application/json", 404);
}

void LineHttpServer::serveAsset(QTcpSocket *socket, const QString &name)
{
    QFile file(name);
    file.open(QIODevice::ReadOnly);
    QByteArray type;
    for (const Asset &asset : kAssets)
        if (name == QLatin1String(asset.resource))
            type = asset.type;
    answer(socket, file.readAll(), type, 200);
}

void LineHttpServer::serveRecords(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString sinceText = request.query().queryItemValue(QStringLiteral("since"), QUrl::FullyDecoded);
    const QDateTime since = QDateTime::fromString(sinceText, Qt::ISODateWithMs);
    if (sinceText.isEmpty() || !since.isValid()) {
        answer(socket,
               errorJson(QStringLiteral("give since=ISO-TIME, e.g. since=2026-03-01T06:00:00Z")),
               "application/json", 400);
        return;
    }
    try {
        const QJsonArray records = m_feed.records(since.toUTC());
        answer(socket,
               QJsonDocument(QJsonObject{{QStringLiteral("records"), records}}).toJson(QJsonDocument::Compact) + '\n',
               "application/json", 200);
    } catch (const records::RecordStoreError &) {
        // The reason names the server: the log has it (LineFeed::trouble).
        answer(socket, errorJson(QStringLiteral("the records cannot be read at the moment")),
               "application/json", 503);
    }
}

void LineHttpServer::startStream(QTcpSocket *socket)
{
    m_streams.removeAll(nullptr);
    if (m_streams.size() >= kMaxStreams) {
        answer(socket, errorJson(QStringLiteral("too many event streams")), "application/json", 503);
        return;
    }
    if (RequestGuard *guard = RequestGuard::of(socket))
        guard->setStreaming();
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n";
    head += kSecurityHeaders;
    head += "Connection: keep-alive\r\n\r\n";
    // A browser that lost the stream asks again after a second.
    head += "retry: 1000\n\n";
    head += clockEvent() + "event: line\ndata: " + m_feed.snapshot() + "\n\n";
    socket->write(head);
    m_streams.append(socket);
}

void LineHttpServer::sendToStreams(const QByteArray &event)
{
    m_streams.removeAll(nullptr);
    for (const QPointer<QTcpSocket> &socket : std::as_const(m_streams)) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            continue;
        // A reader that does not read loses its stream, not the server's memory.
        if (socket->bytesToWrite() > kMaxBacklog) {
            socket->abort();
            continue;
        }
        socket->write(event);
    }
}

} // namespace quobin::line
