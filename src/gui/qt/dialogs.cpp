#include "gui/qt/dialogs.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "app/resources.h"
#include "app/terminal_dlg.h"

namespace {

QRect DialogRect(int x, int y, int width, int height) {
    return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
                 DialogUnitsToPixelsY(height));
}

void PlaceFixed(QDialog& dialog, const char* caption, int width, int height) {
    dialog.setWindowTitle(QString::fromLatin1(caption));
    dialog.setFixedSize(DialogUnitsToPixelsX(width), DialogUnitsToPixelsY(height));
    dialog.setModal(true);
}

}  // namespace

void ShowQuorvaneMessageBox(QWidget* parent, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QIcon QuorvaneIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0, 0, 255));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
    painter.setPen(QPen(Qt::white, 4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(7, 6, 18, 18);
    painter.drawLine(19, 19, 26, 27);
    return QIcon(pixmap);
}

TerminalDialog::TerminalDialog(CTerminalDlg& choice, QWidget* parent)
    : QDialog(parent), data_(choice) {
    PlaceFixed(*this, CTerminalDlg::kCaption, CTerminalDlg::kWidth, CTerminalDlg::kHeight);

    const auto& group = CTerminalDlg::kGroupBox;
    auto* frame = new QGroupBox(QString::fromLatin1(group.text), this);
    frame->setGeometry(DialogRect(group.x, group.y, group.width, group.height));

    // The list's resource height includes the opened list; closed, it is
    // as high as the style makes a drop-down list.
    const auto& list = CTerminalDlg::kPortList;
    port_list_ = new QComboBox(this);
    port_list_->setEditable(false);
    port_list_->setMaxVisibleItems(4);
    for (const std::string& line : CTerminalDlg::PortLines()) {
        port_list_->addItem(QString::fromStdString(line));
    }
    port_list_->setGeometry(DialogRect(list.x, list.y, list.width, 12));
    port_list_->setCurrentIndex(data_.InitialSelection());

    const auto& ok = CTerminalDlg::kOkButton;
    ok_ = new QPushButton(QString::fromLatin1(ok.text), this);
    ok_->setGeometry(DialogRect(ok.x, ok.y, ok.width, ok.height));
    ok_->setDefault(true);
    const auto& cancel = CTerminalDlg::kCancelButton;
    cancel_ = new QPushButton(QString::fromLatin1(cancel.text), this);
    cancel_->setGeometry(DialogRect(cancel.x, cancel.y, cancel.width, cancel.height));

    connect(ok_, &QPushButton::clicked, this, [this] {
        data_.OnOK(port_list_->currentIndex());
        accept();
    });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    const AboutBoxLayout& layout = AboutBox();
    PlaceFixed(*this, layout.caption, layout.width, layout.height);

    auto* icon = new QLabel(this);
    icon->setPixmap(QuorvaneIcon().pixmap(32, 32));
    icon->move(DialogUnitsToPixelsX(layout.icon.x), DialogUnitsToPixelsY(layout.icon.y));

    auto add_text = [this](const DialogItem& item) {
        auto* label = new QLabel(QString::fromLatin1(item.text), this);
        label->move(DialogUnitsToPixelsX(item.x), DialogUnitsToPixelsY(item.y));
        label->adjustSize();
    };
    add_text(layout.version);
    for (const DialogItem& credit : layout.credits) {
        add_text(credit);
    }

    const DialogItem& ok = layout.ok_button;
    auto* button = new QPushButton(QString::fromLatin1(ok.text), this);
    button->setGeometry(DialogRect(ok.x, ok.y, ok.width, ok.height));
    button->setDefault(true);
    connect(button, &QPushButton::clicked, this, &QDialog::accept);

    // The box's size is meant for the texts in the resource's font; in a
    // wider font it grows to show every text whole, with the icon's margin
    // on the right and below.
    const QRect items = childrenRect();
    const int margin = DialogUnitsToPixelsX(layout.icon.x);
    setFixedSize(std::max(width(), items.right() + 1 + margin),
                 std::max(height(), items.bottom() + 1 + margin));
}
