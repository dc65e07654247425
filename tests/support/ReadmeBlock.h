#pragma once

// The SQL that the README shows between its markers, so that tests use the
// rights exactly as they are documented.

#include <QFile>
#include <QString>

namespace quobin::testing {

// The lines of the ```sql block between "<!-- NAME: begin -->" and
// "<!-- NAME: end -->" in the README at readmePath; empty when there is none.
inline QString readmeBlock(const QString &readmePath, const QString &name)
{
    QFile readme(readmePath);
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype begin = text.indexOf(QStringLiteral("<!-- %1: begin -->\n```sql\n").arg(name));
    const qsizetype end = text.indexOf(QStringLiteral("```\n<!-- %1: end -->").arg(name));
    if (begin < 0 || end < begin)
        return {};
    return text.mid(begin, end - begin).section(QLatin1Char('\n'), 2);
}

} // namespace quobin::testing
