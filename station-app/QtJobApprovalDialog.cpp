#include "JobApprovalDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace quobin {

std::optional<JobApprovalRequest> QtJobApprovalDialog::ask(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Approve a job"));
    auto *name = new QLineEdit(&dialog);
    name->setAccessibleName(QStringLiteral("Job name"));
    auto *image = new QLineEdit(&dialog);
    image->setAccessibleName(QStringLiteral("Image file"));
    auto *browse = new QPushButton(QStringLiteral("&Browse..."), &dialog);
    auto *serial = new QLineEdit(&dialog);
    serial->setAccessibleName(QStringLiteral("Serial numbers"));
    serial->setPlaceholderText(QStringLiteral("none, or SERIES@ADDRESS:WIDTH:ENCODING[:FIRST[:STEP]]"));
    auto *onError = new QComboBox(&dialog);
    onError->setAccessibleName(QStringLiteral("On error"));
    onError->addItem(QStringLiteral("stop"));
    onError->addItem(QStringLiteral("continue"));
    auto *rule = new QLineEdit(&dialog);
    rule->setAccessibleName(QStringLiteral("Board ID rule"));
    rule->setPlaceholderText(QStringLiteral("none, or a regular expression such as ^QB[0-9]{8}$"));
    auto *reflash = new QCheckBox(QStringLiteral("&Re-flash of a board that passed allowed"), &dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Approve"));

    auto *imageRow = new QHBoxLayout;
    imageRow->addWidget(image, 1);
    imageRow->addWidget(browse);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("&Name:"), name);
    form->addRow(QStringLiteral("&Image file:"), imageRow);
    form->addRow(QStringLiteral("&Serial numbers:"), serial);
    form->addRow(QStringLiteral("On &error:"), onError);
    form->addRow(QStringLiteral("Board &ID rule:"), rule);
    form->addRow(reflash);
    form->addRow(buttons);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString path = QFileDialog::getOpenFileName(&dialog, QStringLiteral("Image file"), QString(),
                                                          QStringLiteral("Firmware (*.hex);;All files (*)"));
        if (!path.isEmpty())
            image->setText(path);
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialog.resize(640, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    JobApprovalRequest request;
    request.name = name->text().trimmed();
    request.imagePath = image->text().trimmed();
    request.serialFormat = serial->text().trimmed();
    request.onError = onError->currentText();
    request.boardIdRule = rule->text().trimmed();
    request.reflashAllowed = reflash->isChecked();
    return request;
}

} // namespace quobin
