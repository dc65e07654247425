#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

namespace quobin {

// A barcode scanner at the bench is a keyboard: it types the label, then
// Enter. While taking() says so, the keys typed anywhere in window (whatever
// has the focus there) are gathered instead of reaching the focused control,
// and Enter hands the label on as scanned(). Installed on the application,
// as key events go to whatever has the focus.
class ScanKeys : public QObject {
    Q_OBJECT

public:
    ScanKeys(QWidget *window, std::function<bool()> taking, QObject *parent = nullptr);

    // What has been typed since the last Enter.
    QString typed() const { return m_typed; }

signals:
    void scanned(const QString &label);
    void typedChanged(const QString &typed);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *const m_window;
    const std::function<bool()> m_taking;
    QString m_typed;
};

} // namespace quobin
