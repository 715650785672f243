#include "app/WrappingCheckBox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

void WrappingCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    // The indicator and the focus frame as the style draws them, the caption by hand.
    painter.drawControl(QStyle::CE_CheckBox, option);
    QRect textRect = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this);
    textRect.setRight(rect().right());
    style()->drawItemText(&painter, textRect,
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                          option.palette, isEnabled(), caption, QPalette::WindowText);
}

bool WrappingCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}
