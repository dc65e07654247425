#include "FaultNames.h"

#include "SimulatorError.h"

#include <QStringList>

#include <array>

namespace quobin::sim::FaultNames {

namespace {

// Millis and Text follow the line number; LeadingMillis stands in its place.
enum class Arg { None, Millis, Text, LeadingMillis };

struct Entry {
    const char *name;
    Fault::Kind kind;
    bool needsLine;
    Arg arg;
    const char *usage;
    const char *description;
};

const std::array entries = {
    Entry { "silent", Fault::Silent, false, Arg::None, "silent", "never answer \"@&$\"" },
    Entry { "echo", Fault::Echo, false, Arg::None, "echo", "answer \"@&$\" with \"@&$\", never \"?\"" },
    Entry { "caret-question", Fault::CaretWithQuestion, false, Arg::None, "caret-question", "send \"^?\" in one write instead of \"^\"" },
    Entry { "checksum-once", Fault::ChecksumOnce, true, Arg::None, "checksum-once:k", "answer \"-\" to line k; a resend gets the normal answer" },
    Entry { "checksum-always", Fault::ChecksumAlways, true, Arg::None, "checksum-always:k", "answer \"-\" to line k and every resend of it" },
    Entry { "flash", Fault::FlashError, true, Arg::None, "flash:k", "answer \"%\" to line k" },
    Entry { "hash", Fault::HashAnswer, true, Arg::None, "hash:k", "answer \"#\" to line k" },
    Entry { "no-answer", Fault::NoAnswer, true, Arg::None, "no-answer:k", "do not answer line k" },
    Entry { "late", Fault::LateAnswer, true, Arg::Millis, "late:k[:ms]", "answer line k ms later (3500); a resend and later lines are answered at once, before it" },
    Entry { "late-in-order", Fault::LateInOrder, true, Arg::Millis, "late-in-order:k[:ms]", "answer line k ms later (3500), and every later line after it, in order" },
    Entry { "split", Fault::SplitAnswer, true, Arg::Millis, "split:k[:ms]", "send \"x\", then the answer to line k ms later (20)" },
    Entry { "answer", Fault::CustomAnswer, true, Arg::Text, "answer:k:TEXT", "answer line k with TEXT, e.g. %- or ~-" },
    Entry { "no-at", Fault::NoCompletion, false, Arg::None, "no-at", "answer the end-of-file record with \"~\", not \"@\"" },
    Entry { "xoff", Fault::XoffHold, true, Arg::Millis, "xoff:k[:ms]", "send XOFF with the answer to line k, XON ms later (2000)" },
    Entry { "garbage", Fault::Garbage, false, Arg::Text, "garbage[:k[:TEXT]]", "send TEXT (xyz) after the answer to line k, to every line without k" },
    Entry { "vanish", Fault::Vanish, true, Arg::None, "vanish:k", "close the pseudo-terminal when line k arrives" },
    Entry { "split-reply", Fault::SplitReply, false, Arg::LeadingMillis, "split-reply[:ms]", "answer \"@&$\" with \"?\", then \"V\" and the version ms later (3; any gap)" },
};

int number(const QString &text, const QString &option)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
        throw SimulatorError("bad number in fault " + option.toStdString());
    return value;
}

Fault parseUnqualified(const QString &option)
{
    const QStringList parts = option.split(QLatin1Char(':'));
    for (const Entry &entry : entries) {
        if (parts.first() != QLatin1String(entry.name))
            continue;
        Fault fault { entry.kind };
        if (entry.arg == Arg::LeadingMillis) {
            if (parts.size() > 2)
                throw SimulatorError("fault " + option.toStdString() + " takes one number");
            if (parts.size() > 1)
                fault.millis = number(parts[1], option);
            return fault;
        }
        if (parts.size() > 1)
            fault.line = number(parts[1], option);
        if (entry.needsLine && fault.line < 1)
            throw SimulatorError("fault " + option.toStdString() + " needs a line number from 1");
        if (parts.size() > 2) {
            const QString arg = parts.mid(2).join(QLatin1Char(':'));
            if (entry.arg == Arg::Millis)
                fault.millis = number(arg, option);
            else if (entry.arg == Arg::Text)
                fault.text = arg.toLatin1();
            else
                throw SimulatorError("fault " + option.toStdString() + " takes no argument");
        }
        if (entry.kind == Fault::CustomAnswer && fault.text.isEmpty())
            throw SimulatorError("fault " + option.toStdString() + " needs an answer text");
        return fault;
    }
    throw SimulatorError("unknown fault " + option.toStdString());
}

} // namespace

Fault parse(const QString &given)
{
    // "@B" at the end keeps the fault to board B of a fixture.
    QString option = given;
    int board = 0;
    const qsizetype at = given.lastIndexOf(QLatin1Char('@'));
    if (at > 0 && !given.startsWith(QLatin1String("answer:")) && !given.startsWith(QLatin1String("garbage:"))) {
        board = number(given.mid(at + 1), given);
        if (board < 1)
            throw SimulatorError("fault " + given.toStdString() + " needs a board number from 1");
        option = given.left(at);
    }
    Fault fault = parseUnqualified(option);
    fault.board = board;
    return fault;
}

QString format(const Fault &fault)
{
    for (const Entry &entry : entries) {
        if (entry.kind != fault.kind)
            continue;
        const auto refuse = [&](const char *why) {
            throw SimulatorError(std::string("fault ") + entry.name + ": " + why + " has no option");
        };
        if (fault.millis >= 0 && entry.arg != Arg::Millis && entry.arg != Arg::LeadingMillis)
            refuse("a millisecond count");
        if (!fault.text.isEmpty() && entry.arg != Arg::Text)
            refuse("a text");
        QString option = QLatin1String(entry.name);
        if (entry.arg == Arg::LeadingMillis) {
            if (fault.line != 0)
                refuse("a line number");
            if (fault.millis >= 0)
                option += QLatin1Char(':') + QString::number(fault.millis);
        } else {
            const bool argument = (entry.arg == Arg::Millis && fault.millis >= 0)
                || (entry.arg == Arg::Text && !fault.text.isEmpty());
            if (fault.line != 0 || entry.needsLine || argument)
                option += QLatin1Char(':') + QString::number(fault.line);
            if (argument)
                option += QLatin1Char(':')
                    + (entry.arg == Arg::Millis ? QString::number(fault.millis) : QString::fromLatin1(fault.text));
        }
        if (fault.board != 0) {
            if (entry.kind == Fault::CustomAnswer || entry.kind == Fault::Garbage)
                refuse("a board");
            option += QLatin1Char('@') + QString::number(fault.board);
        }
        return option;
    }
    throw SimulatorError("a fault of kind " + std::to_string(int(fault.kind)) + " has no name");
}

QString help()
{
    QString text;
    for (const Entry &entry : entries)
        text += QStringLiteral("  %1  %2\n").arg(QLatin1String(entry.usage), -20).arg(QLatin1String(entry.description));
    return text;
}

} // namespace quobin::sim::FaultNames
