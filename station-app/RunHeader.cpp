#include "RunHeader.h"

#include "FittedLabel.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quobin {

RunHeader::RunHeader(QWidget *parent)
    : QWidget(parent),
      // A job's name may be longer than any screen is wide, and a notice
      // names files: neither may widen the window and push tiles off it.
      m_job(new FittedLabel(FittedLabel::Fit::Elide, this)),
      m_totals(new FittedLabel(FittedLabel::Fit::Wrap, this)),
      m_notice(new FittedLabel(FittedLabel::Fit::Wrap, this))
{
    QFont jobFont = font();
    jobFont.setPointSize(16);
    jobFont.setBold(true);
    m_job->setFont(jobFont);
    QFont totalsFont = font();
    totalsFont.setPointSize(13);
    m_totals->setFont(totalsFont);
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

QLabel *RunHeader::jobLabel() const
{
    return m_job;
}

QLabel *RunHeader::totalsLabel() const
{
    return m_totals;
}

QLabel *RunHeader::noticeLabel() const
{
    return m_notice;
}

void RunHeader::setNotice(const QString &notice)
{
    m_notice->setText(notice);
    m_notice->setVisible(!notice.isEmpty());
}

} // namespace quobin
