#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QTimer>

class QTcpSocket;

namespace quobin::line {

class LineFeed;

// The page's HTTP side, read-only: GET of
//   /                  the page (index.html), /line.css, /line.js, /favicon.svg
//                      from the program's own resources, nothing from disk
//   /api/line          the line's figures (LineFeed::snapshot)
//   /api/records?since=ISO-TIME   the records since then
//   /events            Server-Sent Events: "line" with the figures, at once
//                      and on every change, each after a "clock" with the
//                      server's time
// Any other path is 404, any other method 405. Each answer says what it is
// (no sniffing), that it is not to be cached or framed, and that the page
// loads nothing from elsewhere.
class LineHttpServer : public QAbstractHttpServer {
    Q_OBJECT
public:
    // The most event streams open at once.
    static constexpr int kMaxStreams = 200;
    // A stream whose reader has this much waiting to be sent is dropped.
    static constexpr qint64 kMaxBacklog = 4 * 1024 * 1024;

    explicit LineHttpServer(LineFeed &feed, QObject *parent = nullptr);

    int streamCount() const { return int(m_streams.size()); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void serveAsset(QTcpSocket *socket, const QString &name);
    void serveRecords(const QHttpServerRequest &request, QTcpSocket *socket);
    void startStream(QTcpSocket *socket);
    void sendToStreams(const QByteArray &event);
    QByteArray clockEvent() const;
    void answer(QTcpSocket *socket, const QByteArray &body, const QByteArray &type, int status);

    LineFeed &m_feed;
    QList<QPointer<QTcpSocket>> m_streams;
    QTimer m_keepAlive;
};

} // namespace quobin::line
