// The program's modal windows in Qt: the message box, the Terminal Data
// dialog and the About box, laid out from the shell's dialog resources.
#pragma once

#include <QDialog>
#include <string>

class CTerminalDlg;
class QComboBox;
class QPushButton;

// A modal box with the text and one OK button, captioned "Quorvane".
void ShowQuorvaneMessageBox(QWidget* parent, const std::string& text);

// The application icon (resource 128), drawn rather than loaded.
QIcon QuorvaneIcon();

class TerminalDialog : public QDialog {
public:
    TerminalDialog(CTerminalDlg& choice, QWidget* parent);

    QComboBox* PortList() const { return port_list_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    CTerminalDlg& data_;
    QComboBox* port_list_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* parent);
};
