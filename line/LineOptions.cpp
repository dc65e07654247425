#include "LineOptions.h"

#include "ServerTarget.h"

#include <QCommandLineParser>

#include <stdexcept>

namespace quobin::line {

QString LineOptions::usage()
{
    return QStringLiteral(
        "Usage: quobin-line --records TARGET [--listen ADDRESS:PORT] [--tls-cert FILE --tls-key FILE]\n"
        "Serves the line's live page, read from the records database that the stations share.\n"
        "\n"
        "  --records TARGET       postgresql://[user@]host[:port]/database (the password from\n"
        "                         ~/.pgpass, PGPASSWORD or a service), or a station's SQLite file\n"
        "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8080; [::1]:8080 for IPv6)\n"
        "  --tls-cert FILE        serve HTTPS with this certificate (PEM) ...\n"
        "  --tls-key FILE         ... and its private key (PEM)\n"
        "  --help, --version\n"
        "\n"
        "The page is /, its figures /api/line, the records /api/records?since=ISO-TIME,\n"
        "live updates /events (Server-Sent Events).\n");
}

LineOptions LineOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption records(QStringLiteral("records"), {}, QStringLiteral("TARGET"));
    const QCommandLineOption listen(QStringLiteral("listen"), {}, QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption cert(QStringLiteral("tls-cert"), {}, QStringLiteral("FILE"));
    const QCommandLineOption key(QStringLiteral("tls-key"), {}, QStringLiteral("FILE"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({records, listen, cert, key, help, version});
    // The parser's own message quotes the argument, which may be a URL
    // with its password: it is shown without it.
    if (!parser.parse(arguments))
        throw std::invalid_argument(records::ServerTarget::withoutPassword(parser.errorText()).toStdString());
    LineOptions options;
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    if (options.help || options.version)
        return options;
    if (!parser.positionalArguments().isEmpty())
        throw std::invalid_argument("quobin-line takes no arguments besides its options (see --help)");
    options.records = parser.value(records);
    if (options.records.isEmpty())
        throw std::invalid_argument("give --records TARGET: the line's PostgreSQL server or a station's SQLite file");
    if (parser.isSet(listen))
        options.listen = ListenAddress::parse(parser.value(listen));
    options.tlsCert = parser.value(cert);
    options.tlsKey = parser.value(key);
    if (options.tlsCert.isEmpty() != options.tlsKey.isEmpty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    return options;
}

} // namespace quobin::line
