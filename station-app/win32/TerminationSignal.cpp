#include "TerminationSignal.h"

#include <QGuiApplication>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

namespace quobin {

// Windows has no SIGTERM for a window: a logoff or a shutdown asks the
// session first (WM_QUERYENDSESSION), which Qt passes on as
// commitDataRequest. That request is the window's Stop; the end is not
// vetoed, the slots record while Windows waits for the program.
TerminationSignal::TerminationSignal(QObject *parent)
    : QObject(parent)
{
#ifndef QT_NO_SESSIONMANAGER
    if (auto *application = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        connect(application, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { emit received(); });
#endif
}

TerminationSignal::~TerminationSignal() = default;

} // namespace quobin
