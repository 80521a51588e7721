#include "support/click_widget.h"

#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

namespace ostrel::ui::test {

bool clickWidget(QWidget* widget) {
    if (!widget) return false;
    QPoint at = widget->rect().center();
    if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(radio);
        at = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, radio).center();
    }
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

}  // namespace ostrel::ui::test
