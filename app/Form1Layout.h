#pragma once

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

namespace quobin {

class FileDropLineEdit;

// The controls of the main window, named as designed. Each carries its name
// as its object name as well.
struct Form1Controls {
    QGroupBox *Frame1 = nullptr;
    QComboBox *Combo1 = nullptr;   // COM port list
    QComboBox *Combo2 = nullptr;   // baud-rate list, never shown
    QGroupBox *Frame4 = nullptr;
    FileDropLineEdit *Text1 = nullptr;  // firmware file path
    QPushButton *Command1 = nullptr;    // Browse
    QPushButton *Command6 = nullptr;    // Wait for Controller Then Upload
    QPushButton *Command4 = nullptr;    // Cancel
    QGroupBox *Frame5 = nullptr;
    QLabel *Label3 = nullptr;      // "Status:"
    QLabel *Label2 = nullptr;      // status text
    QLabel *Label14 = nullptr;     // lines-remaining count
    QPushButton *Command3 = nullptr;    // Exit
};

// The window's fixed client size, font and controls as they are at creation:
// idle look, no list selection, Combo2, Command4 and Label14 hidden.
Form1Controls buildForm1Layout(QWidget *window);

// The font of the window in points; every caption of the fixed layout is
// wholly readable in it.
constexpr int form1FontPointSize = 7;

} // namespace quobin
