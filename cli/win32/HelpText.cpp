#include "HelpText.h"

namespace quobin::cli {

QByteArray helpText(const char *usage)
{
    QByteArray text(usage);
    text.replace("{records-file}", "%LOCALAPPDATA%\\Quobin\\records.sqlite");
    text.replace("{records-folder}", "C:\\Users\\NAME\\AppData\\Local\\Quobin\\");
    text.replace("{device-paths}", "COM10 or \\\\.\\COM10");
    text.replace("{link-target}", "rfc2217://HOST:PORT | --remove");
    // libpq's files on Windows, in the roaming profile.
    text.replace("{pgpass-file}", "%APPDATA%\\postgresql\\pgpass.conf");
    text.replace("{pg-service-file}", "%APPDATA%\\postgresql\\.pg_service.conf");
    return text;
}

} // namespace quobin::cli
