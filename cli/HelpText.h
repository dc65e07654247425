#pragma once

#include <QByteArray>

namespace quobin::cli {

// A help text in this system's words. The texts name what differs between
// systems by a placeholder, each replaced here:
//   {records-file}    the default records database
//   {records-folder}  the folder it is in, as a user finds it
//   {device-paths}    the names of a port besides "Com n"
//   {link-target}     what quobin-cli link N takes after the number
//   {pgpass-file}     libpq's own password file
//   {pg-service-file} libpq's own file of services
QByteArray helpText(const char *usage);

} // namespace quobin::cli
