#pragma once

#include "ListenAddress.h"

#include <QString>
#include <QStringList>

namespace quobin::line {

// quobin-line's command line:
//   quobin-line --records TARGET [--listen ADDRESS:PORT] [--tls-cert FILE --tls-key FILE]
struct LineOptions {
    QString records;
    ListenAddress listen;
    QString tlsCert;
    QString tlsKey;
    bool help = false;
    bool version = false;

    // Throws std::invalid_argument with the operator's message.
    static LineOptions parse(const QStringList &arguments);
    static QString usage();
};

} // namespace quobin::line
