#include "QuestionDesk.h"

#include "CancelSignal.h"
#include "Printer.h"

#include <QByteArray>


namespace quobin::cli {

bool QuestionDesk::ask(int port, const QString &text, bool &interrupted)
{
    std::lock_guard lock(m_oneAtATime);
    interrupted = false;
    m_printer.beginQuestion(port, text);
    const QString answer = readAnswer(interrupted).trimmed().toLower();
    // A terminal has echoed the answer and its line end; anything else has not.
    m_printer.endQuestion(!inputIsTerminal(), answer);
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

} // namespace quobin::cli
