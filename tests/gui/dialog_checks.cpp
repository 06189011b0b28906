#include "dialog_checks.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QList>
#include <string>

#include "gui/qt/dialogs.h"

void ExpectAboutBoxTextsWhole(AboutDialog& dialog) {
    const QList<QWidget*> items = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    int texts = 0;
    for (QWidget* item : items) {
        const auto* label = qobject_cast<QLabel*>(item);
        SCOPED_TRACE(label != nullptr ? label->text().toStdString() : "button");
        EXPECT_TRUE(dialog.rect().contains(item->geometry()))
            << "item at " << item->x() << "," << item->y() << " " << item->width() << "x"
            << item->height() << " in a box of " << dialog.width() << "x" << dialog.height();
        if (label != nullptr && !label->text().isEmpty()) {
            ++texts;
            const QSize needed = label->fontMetrics().size(0, label->text());
            EXPECT_GE(label->width(), needed.width());
            EXPECT_GE(label->height(), needed.height());
        }
        for (QWidget* other : items) {
            if (other != item) {
                EXPECT_FALSE(item->geometry().intersects(other->geometry()))
                    << "overlaps an item at " << other->x() << "," << other->y();
            }
        }
    }
    EXPECT_EQ(texts, 5) << "the version line and four credit lines";
}
