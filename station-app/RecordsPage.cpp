#include "RecordsPage.h"

#include "MessageBoxes.h"
#include "RecordStore.h"
#include "SaveFileDialog.h"

#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace quobin {

namespace {

const QString kAllResults = QStringLiteral("All results");
const QString kPassed = QStringLiteral("Passed");
const QString kFailed = QStringLiteral("Failed");
const QString kAllSlots = QStringLiteral("All slots");

} // namespace

// What the store said to one question.
struct RecordsPage::Answer {
    quint64 question = 0;
    bool withNames = false;
    QStringList slotNames;
    QStringList resultNames;
    int total = 0;
    int offset = 0;
    QList<records::BoardRecord> rows;
    QString where;
    QString problem;
};

RecordsPage::RecordsPage(RecordsPageServices services, QWidget *parent)
    : QWidget(parent),
      m_services(std::move(services)),
      m_result(new QComboBox(this)),
      m_slot(new QComboBox(this)),
      m_reload(new QPushButton(QStringLiteral("Re&load"), this)),
      m_export(new QPushButton(QStringLiteral("E&xport CSV..."), this)),
      m_newer(new QPushButton(QStringLiteral("Pre&vious page"), this)),
      m_older(new QPushButton(QStringLiteral("&Next page"), this)),
      m_state(new QLabel(this)),
      m_table(new QTableWidget(this))
{
    // One question at a time, in the order asked.
    m_pool.setMaxThreadCount(1);
    auto *resultLabel = new QLabel(QStringLiteral("R&esult:"), this);
    resultLabel->setBuddy(m_result);
    auto *slotLabel = new QLabel(QStringLiteral("Sl&ot:"), this);
    slotLabel->setBuddy(m_slot);
    m_table->setColumnCount(7);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Ended (UTC)"), QStringLiteral("Slot"),
                                        QStringLiteral("Result"), QStringLiteral("Message"),
                                        QStringLiteral("Seconds"), QStringLiteral("Job"),
                                        QStringLiteral("Station")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setAccessibleName(QStringLiteral("Records"));

    auto *filters = new QHBoxLayout;
    filters->addWidget(resultLabel);
    filters->addWidget(m_result);
    filters->addWidget(slotLabel);
    filters->addWidget(m_slot);
    filters->addStretch(1);
    filters->addWidget(m_reload);
    filters->addWidget(m_export);
    auto *pages = new QHBoxLayout;
    pages->addWidget(m_state, 1);
    pages->addWidget(m_newer);
    pages->addWidget(m_older);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addLayout(pages);
    layout->addWidget(m_table, 1);

    const auto fromFirstPage = [this] {
        m_offset = 0;
        fetch(false);
    };
    connect(m_result, &QComboBox::currentIndexChanged, this, fromFirstPage);
    connect(m_slot, &QComboBox::currentIndexChanged, this, fromFirstPage);
    connect(m_reload, &QPushButton::clicked, this, &RecordsPage::reloadRequested);
    connect(m_export, &QPushButton::clicked, this, &RecordsPage::exportCsv);
    connect(m_newer, &QPushButton::clicked, this, [this] { turnPage(-1); });
    connect(m_older, &QPushButton::clicked, this, [this] { turnPage(1); });
    fillFilters({}, {});
    fillTable();
}

RecordsPage::~RecordsPage()
{
    // A question under way is answered to nobody.
    m_latest->store(0);
    m_pool.waitForDone();
}

void RecordsPage::reload(std::shared_ptr<records::RecordStore> store)
{
    m_store = std::move(store);
    fetch(true);
}

void RecordsPage::refresh(std::shared_ptr<records::RecordStore> store)
{
    if (store != m_store) {
        reload(std::move(store));
        return;
    }
    fetch(false);
}

void RecordsPage::showProblem(const QString &text)
{
    ++*m_latest;
    m_store.reset();
    m_rows.clear();
    m_total = -1;
    m_reading = false;
    m_state->setText(text);
    fillTable();
    emit pageShown();
}

records::RecordFilter RecordsPage::filter() const
{
    records::RecordFilter filter;
    const QString result = m_result->currentText();
    if (result == kPassed) {
        filter.results = records::RecordFilter::Results::Passed;
    } else if (result == kFailed) {
        filter.results = records::RecordFilter::Results::Failed;
    } else if (!result.isEmpty() && result != kAllResults) {
        filter.results = records::RecordFilter::Results::Named;
        filter.result = result;
    }
    const QString slot = m_slot->currentText();
    if (slot != kAllSlots)
        filter.slot = slot;
    return filter;
}

// Asks the store on the page's thread; the answer comes back to the
// window's thread, and only the answer to the latest question is shown.
void RecordsPage::fetch(bool withNames)
{
    if (!m_store)
        return;
    const quint64 question = ++*m_latest;
    m_reading = true;
    m_reload->setEnabled(false);
    m_export->setEnabled(false);
    m_newer->setEnabled(false);
    m_older->setEnabled(false);
    const std::shared_ptr<records::RecordStore> store = m_store;
    const std::shared_ptr<std::atomic<quint64>> latest = m_latest;
    const records::RecordFilter filter = this->filter();
    const int offset = m_offset;
    QPointer<RecordsPage> page(this);
    m_pool.start([=] {
        if (latest->load() != question)
            return;
        Answer answer;
        answer.question = question;
        answer.withNames = withNames;
        answer.offset = offset;
        answer.where = store->describe();
        try {
            if (withNames) {
                answer.slotNames = store->slotNames();
                answer.resultNames = store->resultNames();
            }
            answer.total = store->countMatching(filter);
            // A page beyond the end, after records went away: the last one.
            if (answer.offset >= answer.total && answer.total > 0)
                answer.offset = (answer.total - 1) / kPageSize * kPageSize;
            answer.rows = store->newestPage(filter, answer.offset, kPageSize);
        } catch (const records::RecordStoreError &e) {
            answer.problem = e.reason();
        } catch (const std::exception &e) {
            answer.problem = QString::fromLocal8Bit(e.what());
        }
        // The page waits for this thread before it goes, so it is there.
        QMetaObject::invokeMethod(page.data(), [page, answer, latest] {
            if (page && latest->load() == answer.question)
                page->apply(answer);
        }, Qt::QueuedConnection);
    });
}

void RecordsPage::apply(const Answer &answer)
{
    m_reading = false;
    m_reload->setEnabled(true);
    if (!answer.problem.isEmpty()) {
        m_rows.clear();
        m_total = -1;
        m_state->setText(QStringLiteral("The records cannot be read: %1").arg(answer.problem));
        fillTable();
        emit pageShown();
        return;
    }
    if (answer.withNames) {
        const records::RecordFilter before = filter();
        fillFilters(answer.slotNames, answer.resultNames);
        // A choice that no longer exists falls back to all; ask again.
        if (filter() != before) {
            m_offset = 0;
            fetch(false);
            return;
        }
    }
    m_rows = answer.rows;
    m_total = answer.total;
    m_offset = answer.offset;
    if (m_total == 0)
        m_state->setText(QStringLiteral("No records to show in %1").arg(answer.where));
    else
        m_state->setText(QStringLiteral("Records %1-%2 of %3, newest first, in %4")
                             .arg(m_offset + 1)
                             .arg(m_offset + m_rows.size())
                             .arg(m_total)
                             .arg(answer.where));
    fillTable();
    emit pageShown();
}

void RecordsPage::fillFilters(const QStringList &slotNames, const QStringList &resultNames)
{
    // Keep the operator's choice across a reload when it still exists.
    const QString result = m_result->currentText();
    const QString slot = m_slot->currentText();
    const QSignalBlocker resultBlocker(m_result);
    const QSignalBlocker slotBlocker(m_slot);
    m_result->clear();
    m_result->addItems(QStringList{kAllResults, kPassed, kFailed} + resultNames);
    m_result->setCurrentIndex(std::max(0, m_result->findText(result)));
    m_slot->clear();
    m_slot->addItems(QStringList{kAllSlots} + slotNames);
    m_slot->setCurrentIndex(std::max(0, m_slot->findText(slot)));
}

void RecordsPage::fillTable()
{
    m_table->setUpdatesEnabled(false);
    m_table->setRowCount(int(m_rows.size()));
    for (int row = 0; row < m_rows.size(); ++row) {
        const records::BoardRecord &r = m_rows[row];
        const QStringList cells{r.ended.toUTC().toString(Qt::ISODateWithMs), r.slot, r.result, r.message,
                                QString::number(r.seconds, 'f', 1), r.jobFile, r.station};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    // The end time is read whole, seconds and zone included. Sized once
    // the page is in: a column that sizes itself at every cell set makes
    // filling a page take a good part of a second.
    if (!m_rows.isEmpty())
        m_table->resizeColumnToContents(0);
    m_table->setUpdatesEnabled(true);
    const bool known = m_total >= 0 && !m_reading;
    m_export->setEnabled(known && m_total > 0 && !m_exporting);
    m_newer->setEnabled(known && m_offset > 0);
    m_older->setEnabled(known && m_offset + m_rows.size() < m_total);
}

void RecordsPage::turnPage(int by)
{
    m_offset = std::max(0, m_offset + by * kPageSize);
    fetch(false);
}

void RecordsPage::exportCsv()
{
    if (!m_store)
        return;
    const QString path = m_services.saveDialog.saveFile(this, QStringLiteral("Export records"),
                                                        QStringLiteral("CSV files (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    // Every record the filters select, oldest first, as the command line
    // lists them; asked of the store afresh, so that the file holds what
    // the store holds now. Read and written on the page's thread: a long
    // history takes seconds, and the tiles go on meanwhile.
    m_exporting = true;
    m_export->setEnabled(false);
    const std::shared_ptr<records::RecordStore> store = m_store;
    const records::RecordFilter filter = this->filter();
    const auto toCsv = m_services.toCsv;
    QPointer<RecordsPage> page(this);
    m_pool.start([=] {
        QString problem;
        try {
            const QByteArray csv = toCsv(store->matching(filter));
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(csv) < 0 || !file.commit())
                problem = QStringLiteral("The records could not be written to %1: %2").arg(path, file.errorString());
        } catch (const records::RecordStoreError &e) {
            problem = QStringLiteral("The records cannot be read: %1").arg(e.reason());
        }
        QMetaObject::invokeMethod(page.data(), [page, problem] {
            if (!page)
                return;
            page->m_exporting = false;
            page->fillTable();
            if (!problem.isEmpty())
                page->m_services.boxes.warning(page, QStringLiteral("Quobin Station"), problem);
            emit page->exportFinished();
        }, Qt::QueuedConnection);
    });
}

} // namespace quobin
