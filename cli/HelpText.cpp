#include "HelpText.h"

namespace quobin::cli {

QByteArray helpText(const char *usage)
{
    QByteArray text(usage);
    text.replace("{records-file}", "$XDG_DATA_HOME/quobin/records.sqlite");
    text.replace("{records-folder}", "~/.local/share/quobin/");
    text.replace("{device-paths}", "a device path or a /dev/serial/by-id/ path");
    text.replace("{link-target}", "DEVICE");
    text.replace("{pgpass-file}", "~/.pgpass");
    text.replace("{pg-service-file}", "~/.pg_service.conf");
    return text;
}

} // namespace quobin::cli
