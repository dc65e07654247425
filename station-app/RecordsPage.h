#pragma once

#include "BoardRecord.h"

#include <QList>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace quobin {

class MessageBoxes;
class SaveFileDialog;
namespace records {
class RecordStore;
}

// What the records page reads and writes with.
struct RecordsPageServices {
    MessageBoxes &boxes;
    SaveFileDialog &saveDialog;
    // The records as CSV for a spreadsheet, as quobin-cli records --csv writes them.
    std::function<QByteArray(const QList<records::BoardRecord> &)> toCsv;
};

// The latest records, newest first, filtered by result and by slot, and an
// export of what is shown to a CSV file.
class RecordsPage : public QWidget {
    Q_OBJECT

public:
    explicit RecordsPage(RecordsPageServices services, QWidget *parent = nullptr);

    // How many of the newest records are listed.
    static constexpr int kLatest = 500;

    // Reads the records again from store; a store that cannot be read is
    // said on the page.
    void reload(records::RecordStore &store);
    // The records the filters let through, newest first.
    QList<records::BoardRecord> shown() const;

    QComboBox *resultFilter() const { return m_result; }
    QComboBox *slotFilter() const { return m_slot; }
    QPushButton *reloadButton() const { return m_reload; }
    QPushButton *exportButton() const { return m_export; }
    QTableWidget *table() const { return m_table; }
    QLabel *stateLabel() const { return m_state; }

signals:
    void reloadRequested();

private:
    void fillFilters();
    void fillTable();
    void exportCsv();

    RecordsPageServices m_services;
    QList<records::BoardRecord> m_records;  // newest first
    QComboBox *m_result;
    QComboBox *m_slot;
    QPushButton *m_reload;
    QPushButton *m_export;
    QLabel *m_state;
    QTableWidget *m_table;
};

} // namespace quobin
