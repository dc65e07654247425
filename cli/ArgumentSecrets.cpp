#include "ArgumentSecrets.h"

#include "HelpText.h"
#include "ServerTarget.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace quobin::cli {

void hidePasswordArguments(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        // Latin-1 keeps one character per byte, so the spans are byte offsets.
        const QString argument = QString::fromLatin1(argv[i]);
        const qsizetype urlStart = argument.indexOf(QLatin1String("postgres"), 0, Qt::CaseInsensitive);
        if (urlStart < 0)
            continue;
        for (const auto &[start, length] : records::ServerTarget::passwordSpans(argument.mid(urlStart)))
            std::memset(argv[i] + urlStart + start, '*', size_t(length));
    }
}

void warnOfPasswordArgument(const QString &command, const QString &target)
{
    static std::atomic_bool warned = false;
    if (!records::ServerTarget::hasPassword(target) || warned.exchange(true))
        return;
    const QByteArray advice = helpText("keep it in {pgpass-file} (or a passfile=, PGPASSWORD or a service= in "
                                       "{pg-service-file}) and leave it out of the URL");
    std::fprintf(stderr,
                 "quobin-cli %s: warning: a password on the command line can be read by other users of this "
                 "machine; %s\n",
                 qPrintable(command), advice.constData());
}

} // namespace quobin::cli
