#include "GangUpload.h"

#include "CancelSignal.h"
#include "Clock.h"
#include "ClosePortIfOpen.h"
#include "FileArgument.h"
#include "LogText.h"
#include "SerialPorts.h"
#include "UploadLog.h"
#include "UploadProcedure.h"
#include "UploadResultName.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <memory>
#include <optional>
#include <vector>

namespace quobin::cli {

namespace {

// How often the live lines are redrawn.
constexpr int kRedrawMsecs = 250;

} // namespace

GangUpload::GangUpload(const UploadArguments &arguments, const FileArgument &file,
                       std::shared_ptr<const FirmwareImage> image, int linesToSend, Printer &printer,
                       QuestionDesk &desk, UploadLog *log)
    : m_arguments(arguments), m_file(file), m_image(std::move(image)), m_linesToSend(linesToSend),
      m_printer(printer), m_desk(desk), m_log(log)
{
}

QList<PortResult> GangUpload::run()
{
    const int count = int(m_arguments.ports.size());
    QList<PortResult> results(count);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back(QThread::create([this, i, &results] { results[i] = uploadOn(i); }));
        threads.back()->start();
    }
    m_printer.redraw();
    for (const auto &thread : threads) {
        while (!thread->wait(QDeadlineTimer(kRedrawMsecs)))
            m_printer.redraw();
    }
    m_printer.redraw();
    return results;
}

// One port from start to end, on its own thread: every object here belongs
// to this thread alone.
PortResult GangUpload::uploadOn(int index)
{
    const PortChoice &choice = m_arguments.ports[index];
    QElapsedTimer elapsed;
    elapsed.start();

    SteadyClock clock;
    const QString device = choice.device;
    // Ctrl-C also ends an open that is still reaching a serial server.
    const std::unique_ptr<SerialPort> serial = makeSerialPortOn(device, [] { return CancelSignal::requested(); });
    std::optional<LoggingSerialPort> logging;
    SerialPort *port = serial.get();
    if (m_log) {
        logging.emplace(*serial, *m_log, choice.label);
        port = &*logging;
        m_log->write(choice.label, QStringLiteral("upload of %1 to %2").arg(quotedText(m_file.shown()), quotedText(device)));
    }

    TerminalWindow::Setup setup;
    setup.portIndex = index;
    setup.portLabel = choice.label;
    // The engine sends the one reading it is given and opens no file: the
    // path is only shown, as the operator named it.
    setup.firmwarePath = m_file.shown();
    setup.linesToSend = m_linesToSend;
    setup.policy = m_arguments.policy;
    TerminalWindow window(setup, *port, m_printer, m_desk, m_log);

    UploadOptions options;
    options.controllerWaitSeconds = m_arguments.controllerWaitSeconds;
    options.image = m_image;
    const UploadOutcome outcome = UploadProcedure(window, *port, clock, options).run();
    // A failure while setting up leaves the port as it found it; nothing
    // comes after this upload here, so close it now.
    ClosePortIfOpen(*port);

    PortResult result;
    // A Ctrl-C that interrupted a question is a cancel, not the operator's No.
    const bool cancelled = outcome.kind == UploadOutcome::Kind::Stopped && window.questionCancelled();
    result.result = cancelled ? QStringLiteral("cancelled") : resultName(outcome);
    result.message = cancelled ? QString() : resultMessage(outcome);
    result.detail = outcome.detail;
    result.lines = outcome.linesSent;
    result.resends = outcome.resends;
    result.stale = outcome.staleAnswers;
    result.seconds = elapsed.elapsed() / 1000.0;
    if (m_log)
        m_log->write(choice.label,
                     QStringLiteral("result %1%2%3, %4 lines, %5 resends")
                         .arg(result.result,
                              result.message.isEmpty() ? QString() : QLatin1Char(' ') + quotedText(result.message),
                              result.detail.isEmpty() ? QString() : QStringLiteral(" detail ") + quotedText(result.detail))
                         .arg(result.lines)
                         .arg(result.resends));
    m_printer.result(index, result);
    return result;
}

} // namespace quobin::cli
