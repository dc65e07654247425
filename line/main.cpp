// quobin-line: the line's live web page, from the records database that
// the stations share.
#include "ArgumentSecrets.h"
#include "GuardedServer.h"
#include "LineDatabase.h"
#include "LineFeed.h"
#include "LineHttpServer.h"
#include "LineOptions.h"
#include "RecordStore.h"
#include "ServerTarget.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

#include <cstdio>
#include <stdexcept>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "quobin-line: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

// Qt's own warnings (a refused TLS handshake, ...) would only repeat what
// the program says, or say it in words no supervisor knows.
void keepLibraryQuiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        say(message);
}

QSslConfiguration tlsFrom(const QString &certFile, const QString &keyFile)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certFile, QSsl::Pem);
    if (chain.isEmpty())
        throw std::invalid_argument(
            QStringLiteral("--tls-cert %1: no PEM certificate could be read from it").arg(certFile).toStdString());
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly))
        throw std::invalid_argument(
            QStringLiteral("--tls-key %1: %2").arg(keyFile, file.errorString()).toStdString());
    const QByteArray pem = file.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem);
        if (!key.isNull())
            break;
    }
    if (key.isNull())
        throw std::invalid_argument(
            QStringLiteral("--tls-key %1: no unencrypted PEM private key could be read from it").arg(keyFile).toStdString());
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(chain.first());
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(keepLibraryQuiet);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quobin-line"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUOBIN_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    // What ps and /proc show of a password from here on is stars.
    quobin::cli::hidePasswordArguments(argc, argv);

    using namespace quobin::line;
    try {
        const LineOptions options = LineOptions::parse(arguments);
        if (options.help) {
            std::fputs(LineOptions::usage().toUtf8().constData(), stdout);
            return 0;
        }
        if (options.version) {
            std::printf("quobin-line %s\n", QUOBIN_VERSION);
            return 0;
        }
        if (quobin::records::ServerTarget::hasPassword(options.records))
            say(QStringLiteral("warning: a password on the command line can be read by other users of this "
                               "machine; keep it in ~/.pgpass (or PGPASSWORD, or a service file) and leave it "
                               "out of the URL"));
        LineDatabase database(options.records);
        LineFeed feed(database, [] { return QDateTime::currentDateTimeUtc(); });
        QObject::connect(&feed, &LineFeed::trouble, [](const QString &problem) {
            say(problem.isEmpty() ? QStringLiteral("the records can be read again") : problem);
        });
        LineHttpServer server(feed);
        const bool tls = !options.tlsCert.isEmpty();
        auto *listener = tls ? new GuardedServer(tlsFrom(options.tlsCert, options.tlsKey), &server)
                             : new GuardedServer(&server);
        if (!listener->listen(options.listen.address, options.listen.port)) {
            say(QStringLiteral("cannot listen on %1: %2").arg(options.listen.text(), listener->errorString()));
            return 1;
        }
        server.bind(listener);
        feed.start();
        say(QStringLiteral("the line's page is on %1://%2/")
                .arg(tls ? QStringLiteral("https") : QStringLiteral("http"), options.listen.text()));
        return app.exec();
    } catch (const std::invalid_argument &error) {
        say(QString::fromUtf8(error.what()));
        return 2;
    } catch (const quobin::records::RecordStoreError &error) {
        say(quobin::records::ServerTarget::withoutPassword(error.reason()));
        return 1;
    }
}
