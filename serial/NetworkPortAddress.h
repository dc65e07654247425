#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace quobin {

// A serial line behind a device server on the network, written
// "rfc2217://HOST:PORT" (an IPv6 literal in brackets: "rfc2217://[::1]:2000",
// a link-local one with its zone: "rfc2217://[fe80::1%eth0]:2000").
struct NetworkPortAddress {
    QString host;    // without brackets; an IPv6 zone after "%"
    quint16 port = 0;

    // "host:port", IPv6 literals in brackets, as the operator wrote it.
    QString text() const;
    // "rfc2217://host:port", the one spelling of this address.
    QString name() const;

    // True when name is written as a network port, well formed or not.
    static bool names(const QString &name);
    // The address in name; throws SerialError saying what is wrong with it.
    static NetworkPortAddress parse(const QString &name);
};

} // namespace quobin
