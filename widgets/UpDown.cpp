#include "widgets/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>

namespace morvel {

UpDown::UpDown(QLineEdit* buddy, int min, int max, QWidget* parent)
    : QWidget(parent), buddy_(buddy), min_(min), max_(max) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    auto makeButton = [this](Qt::ArrowType arrow, int step) {
        auto* button = new QToolButton(this);
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, [this, step] { StepBy(step); });
        return button;
    };
    up_ = makeButton(Qt::UpArrow, 1);
    down_ = makeButton(Qt::DownArrow, -1);
    buddy_->setReadOnly(true);
    buddy_->installEventFilter(this);
    SetPosition(std::clamp(0, min_, max_));
}

void UpDown::SetPosition(int value) {
    value = std::clamp(value, min_, max_);
    const bool changed = value != position_;
    position_ = value;
    buddy_->setText(QString::number(position_));
    if (changed) emit PositionChanged(position_);
}

void UpDown::SetAccessibleNames(const QString& name) {
    setAccessibleName(name);
    buddy_->setAccessibleName(name);
    up_->setAccessibleName(name + " up");
    down_->setAccessibleName(name + " down");
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            StepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    if (watched == buddy_ && event->type() == QEvent::Wheel && buddy_->isEnabled()) {
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (delta != 0) {
            StepBy(delta > 0 ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDown::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

} // namespace morvel
