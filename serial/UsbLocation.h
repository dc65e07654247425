#pragma once

#include <QString>
#include <QStringList>

namespace quobin {

// The USB socket a port's adapter is plugged into, as Windows reports it for
// the device: its location paths (SPDRP_LOCATION_PATHS), e.g.
// PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)#USB(4) for port 4 of the hub on
// root port 1, and failing those its location information
// ("Port_#0004.Hub_#0003"). The path names the socket whichever adapter is
// in it; the hub numbers of the information are counted as hubs appear, so
// it is only taken when no path is told. Plain text in, plain text out: the
// same on every system, so that it is tested anywhere.
class UsbLocation {
public:
    // The socket out of a device's location paths: the PCI root's path
    // through the USB hubs, else any path through a USB hub; empty when none
    // passes through USB (a port on the board, a virtual port).
    static QString fromLocationPaths(const QStringList &paths);
    // The socket out of a device's location information, when it names a
    // port of a hub; empty otherwise.
    static QString fromLocationInformation(const QString &information);
    // Whether text is a socket's name as fromLocationPaths gives it.
    static bool namesSocket(const QString &text);
    // A socket's name short enough for a tile read from afar: "socket 1.4"
    // for ...#USBROOT(0)#USB(1)#USB(4), "socket 1.4 if 2" for its second
    // interface (#USBMI(2)), "hub 3 port 4" for Port_#0004.Hub_#0003; the
    // text itself when it is none of those.
    static QString shortName(const QString &socket);
};

} // namespace quobin
