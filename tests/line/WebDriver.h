#pragma once

#include "HttpProbe.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

namespace quobin::testing {

// Debian's headless chromium, driven through chromedriver's WebDriver HTTP
// interface on 127.0.0.1: one session, one page. problem() says why it
// could not be had (the test then fails with it).
class WebDriver {
public:
    WebDriver()
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/chromium")) || !QFile::exists(QStringLiteral("/usr/bin/chromedriver"))) {
            m_problem = QStringLiteral("chromium and chromedriver are not installed: apt-get install chromium "
                                       "chromium-driver (scripts/test installs them)");
            return;
        }
        m_port = HttpProbe::freePort();
        m_driver.setProcessChannelMode(QProcess::MergedChannels);
        m_driver.start(QStringLiteral("/usr/bin/chromedriver"),
                       {QStringLiteral("--port=%1").arg(m_port), QStringLiteral("--allowed-ips=127.0.0.1")});
        HttpProbe probe(m_port);
        for (int i = 0; i < 100 && probe.get(QStringLiteral("/status")).status != 200; ++i)
            QThread::msleep(100);
        QStringList args{QStringLiteral("--headless=new"), QStringLiteral("--disable-gpu"),
                         QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                         QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                         QStringLiteral("--disable-default-apps"), QStringLiteral("--disable-dev-shm-usage"),
                         QStringLiteral("--window-size=1400,1100"), QStringLiteral("--lang=en-GB"),
                         QStringLiteral("--user-data-dir=") + m_profile.path()};
        // Chromium's sandbox refuses to run as root.
        if (::geteuid() == 0)
            args << QStringLiteral("--no-sandbox");
        const QJsonObject capabilities{
            {QStringLiteral("alwaysMatch"),
             QJsonObject{{QStringLiteral("goog:chromeOptions"),
                          QJsonObject{{QStringLiteral("binary"), QStringLiteral("/usr/bin/chromium")},
                                      {QStringLiteral("args"), QJsonArray::fromStringList(args)}}}}}};
        const QJsonObject answer = call("POST", QStringLiteral("/session"),
                                        QJsonObject{{QStringLiteral("capabilities"), capabilities}});
        m_session = answer[QLatin1String("value")][QLatin1String("sessionId")].toString();
        if (m_session.isEmpty())
            m_problem = QStringLiteral("chromedriver gave no session: %1 %2")
                            .arg(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact)),
                                 QString::fromLocal8Bit(m_driver.readAll()));
    }
    ~WebDriver()
    {
        if (!m_session.isEmpty())
            call("DELETE", QStringLiteral("/session/") + m_session, {});
        m_driver.terminate();
        if (!m_driver.waitForFinished(5000))
            m_driver.kill();
        m_driver.waitForFinished(2000);
    }
    WebDriver(const WebDriver &) = delete;
    WebDriver &operator=(const WebDriver &) = delete;

    QString problem() const { return m_problem; }
    bool ready() const { return !m_session.isEmpty(); }

    void open(const QString &url) { call("POST", path("/url"), QJsonObject{{QStringLiteral("url"), url}}); }
    // The value of a script run in the page (its body, with `return`).
    QJsonValue run(const QString &script)
    {
        return call("POST", path("/execute/sync"),
                    QJsonObject{{QStringLiteral("script"), script}, {QStringLiteral("args"), QJsonArray()}})
            .value(QStringLiteral("value"));
    }
    QByteArray screenshot()
    {
        return QByteArray::fromBase64(call("GET", path("/screenshot"), {}).value(QStringLiteral("value")).toString().toLatin1());
    }

private:
    QString path(const char *tail) const { return QStringLiteral("/session/") + m_session + QLatin1String(tail); }
    QJsonObject call(const QByteArray &method, const QString &where, const QJsonObject &body)
    {
        HttpProbe probe(m_port);
        const HttpProbe::Reply reply =
            probe.request(method, where, method == "GET" || method == "DELETE" ? QByteArray()
                                                                                : QJsonDocument(body).toJson(QJsonDocument::Compact),
                          60000);
        return QJsonDocument::fromJson(reply.body).object();
    }

    QTemporaryDir m_profile;
    QProcess m_driver;
    int m_port = 0;
    QString m_session;
    QString m_problem;
};

} // namespace quobin::testing
