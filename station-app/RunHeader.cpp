#include "RunHeader.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quobin {

RunHeader::RunHeader(QWidget *parent)
    : QWidget(parent), m_job(new QLabel(this)), m_totals(new QLabel(this)), m_notice(new QLabel(this))
{
    QFont jobFont = font();
    jobFont.setPointSize(16);
    jobFont.setBold(true);
    m_job->setFont(jobFont);
    QFont totalsFont = font();
    totalsFont.setPointSize(13);
    m_totals->setFont(totalsFont);
    m_totals->setWordWrap(true);
    m_notice->setFont(totalsFont);
    m_notice->hide();
    m_job->setAccessibleName(QStringLiteral("Job"));
    m_totals->setAccessibleName(QStringLiteral("Totals"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_job);
    layout->addWidget(m_totals);
    layout->addWidget(m_notice);
    setAccessibleName(QStringLiteral("Totals"));
    setTotals({});
}

void RunHeader::setTotals(const RunTotals &totals)
{
    m_job->setText(jobHeaderText(totals));
    m_job->setAccessibleDescription(m_job->text());
    m_totals->setText(totalsText(totals));
    m_totals->setAccessibleDescription(m_totals->text());
    setAccessibleDescription(m_totals->text());
}

void RunHeader::setNotice(const QString &notice)
{
    m_notice->setText(notice);
    m_notice->setVisible(!notice.isEmpty());
}

} // namespace quobin
