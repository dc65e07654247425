#include "QtMessageBoxes.h"

#include <QMessageBox>

namespace quobin {

namespace {

int showBox(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

} // namespace

void QtMessageBoxes::plain(QWidget *parent, const QString &title, const QString &text)
{
    showBox(parent, QMessageBox::NoIcon, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void QtMessageBoxes::warning(QWidget *parent, const QString &title, const QString &text)
{
    showBox(parent, QMessageBox::Warning, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtMessageBoxes::yesNo(QWidget *parent, const QString &title, const QString &text)
{
    return showBox(parent, QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::Yes)
        == QMessageBox::Yes;
}

} // namespace quobin
