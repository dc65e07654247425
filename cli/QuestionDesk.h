#pragma once

#include <QString>

#include <mutex>

namespace quobin::cli {

class Printer;

// What the Yes/No questions of an upload get for an answer.
enum class ErrorPolicy {
    Ask,      // the operator answers y/N on the terminal
    Stop,     // No: the upload stops at the first line that still fails
    Continue  // Yes: the upload goes on past it
};

// Where the operator answers questions: one question at a time, whichever
// port asks, while the other ports go on. Answers are lines on stdin; "y" or
// "yes" (any case) is Yes, anything else, an end of input or a cancel is No.
class QuestionDesk {
public:
    QuestionDesk(Printer &printer, int inputFd = 0) : m_printer(printer), m_inputFd(inputFd) {}

    // Asks on behalf of port; blocks this port's thread until answered.
    // Sets interrupted when a cancel ended the question before an answer.
    bool ask(int port, const QString &text, bool &interrupted);

private:
    // The platform's part (QuestionDesk.cpp, win32/QuestionInput.cpp).
    QString readAnswer(bool &interrupted);
    bool inputIsTerminal() const;

    Printer &m_printer;
    const int m_inputFd;
    std::mutex m_oneAtATime;
    bool m_inputEnded = false;
};

} // namespace quobin::cli
