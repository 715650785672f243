#pragma once

#include <QCheckBox>

// A check box whose caption wraps onto further lines when it is wider than the
// box, and which reacts to a click anywhere on it.
class WrappingCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};
