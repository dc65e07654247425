#include "RecordsPage.h"

#include "MessageBoxes.h"
#include "RecordStore.h"
#include "SaveFileDialog.h"

#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
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

RecordsPage::RecordsPage(RecordsPageServices services, QWidget *parent)
    : QWidget(parent),
      m_services(std::move(services)),
      m_result(new QComboBox(this)),
      m_slot(new QComboBox(this)),
      m_reload(new QPushButton(QStringLiteral("Re&load"), this)),
      m_export(new QPushButton(QStringLiteral("E&xport CSV..."), this)),
      m_state(new QLabel(this)),
      m_table(new QTableWidget(this))
{
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
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_state);
    layout->addWidget(m_table, 1);

    connect(m_result, &QComboBox::currentIndexChanged, this, &RecordsPage::fillTable);
    connect(m_slot, &QComboBox::currentIndexChanged, this, &RecordsPage::fillTable);
    connect(m_reload, &QPushButton::clicked, this, &RecordsPage::reloadRequested);
    connect(m_export, &QPushButton::clicked, this, &RecordsPage::exportCsv);
    fillFilters();
}

void RecordsPage::reload(records::RecordStore &store)
{
    try {
        QList<records::BoardRecord> all = store.read();
        std::reverse(all.begin(), all.end());
        if (all.size() > kLatest)
            all.resize(kLatest);
        m_records = all;
        m_state->setText(QStringLiteral("The latest records in %1").arg(store.describe()));
    } catch (const records::RecordStoreError &e) {
        m_records.clear();
        m_state->setText(QStringLiteral("The records cannot be read: %1").arg(e.reason()));
    }
    fillFilters();
}

QList<records::BoardRecord> RecordsPage::shown() const
{
    const QString result = m_result->currentText();
    const QString slot = m_slot->currentText();
    QList<records::BoardRecord> shown;
    for (const records::BoardRecord &record : m_records) {
        if (result == kPassed && !record.passed())
            continue;
        if (result == kFailed && record.passed())
            continue;
        if (result != kAllResults && result != kPassed && result != kFailed && record.result != result)
            continue;
        if (slot != kAllSlots && record.slot != slot)
            continue;
        shown.append(record);
    }
    return shown;
}

void RecordsPage::fillFilters()
{
    // Keep the operator's choice across a reload when it still exists.
    const QString result = m_result->currentText();
    const QString slot = m_slot->currentText();
    QStringList results;
    QStringList slots_;
    for (const records::BoardRecord &record : m_records) {
        if (!results.contains(record.result))
            results << record.result;
        if (!slots_.contains(record.slot))
            slots_ << record.slot;
    }
    results.sort();
    slots_.sort();
    const QSignalBlocker resultBlocker(m_result);
    const QSignalBlocker slotBlocker(m_slot);
    m_result->clear();
    m_result->addItems(QStringList{kAllResults, kPassed, kFailed} + results);
    m_result->setCurrentIndex(std::max(0, m_result->findText(result)));
    m_slot->clear();
    m_slot->addItems(QStringList{kAllSlots} + slots_);
    m_slot->setCurrentIndex(std::max(0, m_slot->findText(slot)));
    fillTable();
}

void RecordsPage::fillTable()
{
    const QList<records::BoardRecord> rows = shown();
    m_table->setRowCount(int(rows.size()));
    for (int row = 0; row < rows.size(); ++row) {
        const records::BoardRecord &r = rows[row];
        const QStringList cells{r.ended.toUTC().toString(Qt::ISODate), r.slot, r.result, r.message,
                                QString::number(r.seconds, 'f', 1), r.jobFile, r.station};
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_export->setEnabled(!rows.isEmpty());
}

void RecordsPage::exportCsv()
{
    const QString path = m_services.saveDialog.saveFile(this, QStringLiteral("Export records"),
                                                        QStringLiteral("CSV files (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    // Oldest first, as the command line lists them.
    QList<records::BoardRecord> rows = shown();
    std::reverse(rows.begin(), rows.end());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_services.toCsv(rows)) < 0 || !file.commit())
        m_services.boxes.warning(this, QStringLiteral("Quobin Station"),
                                 QStringLiteral("The records could not be written to %1: %2").arg(path, file.errorString()));
}

} // namespace quobin
