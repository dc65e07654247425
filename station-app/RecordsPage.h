#pragma once

#include "BoardRecord.h"
#include "RecordFilter.h"

#include <QList>
#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

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

// The records, newest first, a page at a time, filtered by result and by
// slot, and an export of every record the filters select to a CSV file.
// The store is asked on a thread of the page's own, in SQL where it is a
// database: a long history never holds up the window, and the filters
// offer every slot and result that the store holds.
class RecordsPage : public QWidget {
    Q_OBJECT

public:
    explicit RecordsPage(RecordsPageServices services, QWidget *parent = nullptr);
    ~RecordsPage() override;

    // Records on one page.
    static constexpr int kPageSize = 200;

    // Reads the filters' choices and the first page again from store, in
    // the background; a store that cannot be read is said on the page.
    void reload(std::shared_ptr<records::RecordStore> store);
    // Reads the page shown again, with the choices of the filters as they
    // are: lighter than reload, for the end of every board. Another store
    // than the one shown is reloaded.
    void refresh(std::shared_ptr<records::RecordStore> store);
    // Says on the page why there are no records to show.
    void showProblem(const QString &text);
    // The records of the page shown, newest first.
    QList<records::BoardRecord> shown() const { return m_rows; }
    // What the filters select now.
    records::RecordFilter filter() const;
    // The number of records the filters select; negative until known.
    int total() const { return m_total; }
    // True while the store is being asked.
    bool reading() const { return m_reading; }

    QComboBox *resultFilter() const { return m_result; }
    QComboBox *slotFilter() const { return m_slot; }
    QPushButton *reloadButton() const { return m_reload; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *newerButton() const { return m_newer; }
    QPushButton *olderButton() const { return m_older; }
    QTableWidget *table() const { return m_table; }
    QLabel *stateLabel() const { return m_state; }

signals:
    void reloadRequested();
    // A page has been shown (or the store's refusal said).
    void pageShown();
    // An export has been written, or said why not.
    void exportFinished();

private:
    struct Answer;

    void fetch(bool withNames);
    void apply(const Answer &answer);
    void fillFilters(const QStringList &slotNames, const QStringList &resultNames);
    void fillTable();
    void turnPage(int by);
    void exportCsv();

    RecordsPageServices m_services;
    std::shared_ptr<records::RecordStore> m_store;
    QList<records::BoardRecord> m_rows;  // the page shown, newest first
    int m_offset = 0;
    int m_total = -1;
    bool m_reading = false;
    bool m_exporting = false;
    // The latest question asked; older answers are dropped.
    std::shared_ptr<std::atomic<quint64>> m_latest = std::make_shared<std::atomic<quint64>>(0);
    QComboBox *m_result;
    QComboBox *m_slot;
    QPushButton *m_reload;
    QPushButton *m_export;
    QPushButton *m_newer;
    QPushButton *m_older;
    QLabel *m_state;
    QTableWidget *m_table;
    // Last: its thread ends before anything it answers to goes.
    QThreadPool m_pool;
};

} // namespace quobin
