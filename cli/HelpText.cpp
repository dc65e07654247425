#include "HelpText.h"

namespace quobin::cli {

QByteArray helpText(const char *usage)
{
    QByteArray text(usage);
    text.replace("{records-file}", "$XDG_DATA_HOME/quobin/records.sqlite");
    text.replace("{records-folder}", "~/.local/share/quobin/");
    text.replace("{device-paths}", "a device path, a /dev/serial/by-id/ path (the adapter) or a\n"
                                   "                     /dev/serial/by-path/ path (the USB socket, whichever adapter is in it)");
    text.replace("{link-target}", "DEVICE");
    text.replace("{pgpass-file}", "~/.pgpass");
    text.replace("{pg-service-file}", "~/.pg_service.conf");
    return text;
}

} // namespace quobin::cli
