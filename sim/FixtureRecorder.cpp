#include "FixtureRecorder.h"

#include "SimulatorError.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace quobin::sim {

FixtureRecorder::FixtureRecorder(QString folder)
    : m_folder(std::move(folder))
{
    if (!QDir().mkpath(m_folder))
        throw SimulatorError("cannot make the folder " + m_folder.toStdString());
}

QByteArray FixtureRecorder::imageOf(const BoardLog &board)
{
    QByteArray image;
    for (const QByteArray &line : board.lines)
        image += line + "\r\n";
    return image;
}

void FixtureRecorder::update(const QList<BoardLog> &boards, int mainCodeCommands, int uploads)
{
    bool changed = mainCodeCommands != m_mainCodeCommands || uploads != m_uploads
        || boards.size() != m_written.size();
    for (qsizetype i = 0; i < boards.size(); ++i) {
        const BoardLog &board = boards[i];
        const bool same = i < m_written.size() && m_written[i].linesReceived == board.linesReceived
            && m_written[i].completed == board.completed;
        if (same)
            continue;
        replaceFile(QStringLiteral("board-%1.hex").arg(board.number), imageOf(board));
        changed = true;
    }
    if (!changed)
        return;

    QJsonArray images;
    for (const BoardLog &board : boards) {
        images.append(QJsonObject{
            {QStringLiteral("board"), board.number},
            {QStringLiteral("lines"), int(board.lines.size())},
            {QStringLiteral("linesReceived"), board.linesReceived},
            {QStringLiteral("completed"), board.completed},
            {QStringLiteral("sha256"), QString::fromLatin1(QCryptographicHash::hash(imageOf(board), QCryptographicHash::Sha256).toHex())},
        });
    }
    const QJsonObject report{
        {QStringLiteral("boards"), int(boards.size())},
        {QStringLiteral("mainCodeCommands"), mainCodeCommands},
        {QStringLiteral("uploads"), uploads},
        {QStringLiteral("boardImages"), images},
    };
    replaceFile(QStringLiteral("fixture.json"), QJsonDocument(report).toJson(QJsonDocument::Compact) + '\n');
    m_written = boards;
    m_mainCodeCommands = mainCodeCommands;
    m_uploads = uploads;
}

void FixtureRecorder::replaceFile(const QString &name, const QByteArray &bytes)
{
    QSaveFile file(m_folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw SimulatorError("cannot write " + file.fileName().toStdString() + ": "
                             + file.errorString().toStdString());
}

} // namespace quobin::sim
