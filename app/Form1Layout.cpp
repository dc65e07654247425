#include "Form1Layout.h"

#include "FileDropLineEdit.h"
#include "Twips.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>

#include <limits>

namespace quobin {

namespace {

template <typename Control>
Control *place(Control *control, const char *name, const QRect &geometry)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

QGroupBox *frame(QWidget *window, const char *name, const QString &caption, const QRect &geometry)
{
    return place(new QGroupBox(caption, window), name, geometry);
}

QPushButton *button(QWidget *container, const char *name, const QString &caption, const QRect &geometry)
{
    auto *control = place(new QPushButton(caption, container), name, geometry);
    control->setAutoDefault(false);
    return control;
}

QLabel *label(QWidget *container, const char *name, const QString &text, const QRect &geometry)
{
    auto *control = place(new QLabel(text, container), name, geometry);
    control->setTextFormat(Qt::PlainText);  // a path in the status is shown as it stands
    control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return control;
}

QComboBox *list(QWidget *container, const char *name, const QStringList &items, const QRect &geometry)
{
    auto *control = place(new QComboBox(container), name, geometry);
    control->addItems(items);
    control->setCurrentIndex(-1);  // positions come from the settings at start-up
    return control;
}

} // namespace

Form1Controls buildForm1Layout(QWidget *window)
{
    QFont font = window->font();
    font.setPointSize(form1FontPointSize);
    window->setFont(font);
    window->setFixedSize(twips(6672), twips(4044));

    Form1Controls c;

    c.Frame1 = frame(window, "Frame1", QStringLiteral("Select Com Port"), twipsRect(240, 0, 1455, 735));
    c.Combo1 = list(c.Frame1, "Combo1",
                    {QStringLiteral("Com 1"), QStringLiteral("Com 2"), QStringLiteral("Com 3"),
                     QStringLiteral("Com 4"), QStringLiteral("Com 5"), QStringLiteral("Com 6"),
                     QStringLiteral("Com 7"), QStringLiteral("Com 8")},
                    twipsRect(120, 240, 855, 315));
    c.Combo2 = list(c.Frame1, "Combo2",
                    {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                     QStringLiteral("9600"), QStringLiteral("14400"), QStringLiteral("19200"),
                     QStringLiteral("38400"), QStringLiteral("56000"), QStringLiteral("57600"),
                     QStringLiteral("115200")},
                    twipsRect(120, 1320, 1575, 315));
    c.Combo2->hide();

    c.Frame4 = frame(window, "Frame4", QString(), twipsRect(120, 840, 6375, 1812));
    c.Text1 = place(new FileDropLineEdit(c.Frame4), "Text1", twipsRect(120, 360, 5172, 285));
    c.Text1->setMaxLength(std::numeric_limits<int>::max());
    c.Command1 = button(c.Frame4, "Command1", QStringLiteral("&Browse"), twipsRect(5400, 360, 735, 315));
    c.Command6 = button(c.Frame4, "Command6", QStringLiteral("&Wait for Controller Then Upload"),
                        twipsRect(1680, 960, 2895, 495));
    c.Command6->setToolTip(
        QStringLiteral("Wait for the Bootloader Active Character before continuing with the upload."));
    c.Command4 = button(c.Frame4, "Command4", QStringLiteral("Cancel"), twipsRect(2160, 960, 1815, 495));
    c.Command4->hide();

    c.Frame5 = frame(window, "Frame5", QString(), twipsRect(360, 2760, 5895, 615));
    c.Label3 = label(c.Frame5, "Label3", QStringLiteral("Status:"), twipsRect(120, 240, 495, 255));
    c.Label2 = label(c.Frame5, "Label2", QStringLiteral("Idle"), twipsRect(720, 240, 5055, 255));
    c.Label14 = label(c.Frame5, "Label14", QString(), twipsRect(3600, 240, 1095, 255));
    // The count stands in front of the end of the status text and hides
    // whatever of it runs that far.
    c.Label14->setAutoFillBackground(true);
    c.Label14->raise();
    c.Label14->hide();

    c.Command3 = button(window, "Command3", QStringLiteral("E&xit"), twipsRect(2280, 3480, 1935, 495));

    // Frames and labels never take the focus; Combo2 is skipped while hidden.
    QWidget::setTabOrder(c.Combo1, c.Combo2);
    QWidget::setTabOrder(c.Combo2, c.Command1);
    QWidget::setTabOrder(c.Command1, c.Command6);
    QWidget::setTabOrder(c.Command6, c.Command4);
    QWidget::setTabOrder(c.Command4, c.Command3);
    QWidget::setTabOrder(c.Command3, c.Text1);

    return c;
}

} // namespace quobin
