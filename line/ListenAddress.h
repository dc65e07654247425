#pragma once

#include <QHostAddress>
#include <QString>

namespace quobin::line {

// Where the page listens: ADDRESS:PORT, an IPv6 address in brackets
// ([::1]:8080). Only addresses, no host names: a name would be looked up,
// and the operator would not know which of its addresses was taken.
struct ListenAddress {
    QHostAddress address{QHostAddress::LocalHost};
    quint16 port = 8080;

    // Throws std::invalid_argument with the operator's message.
    static ListenAddress parse(const QString &text);
    QString text() const;
};

} // namespace quobin::line
