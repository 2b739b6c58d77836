// An up-down control attached to a read-only text field: it holds an integer position within
// [Min, Max] (no wrapping), shows it in the field, and is the only way to change it. The
// arrows keep working while the field is disabled; Up and Down keys in the field step too.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace morvel {

class UpDown : public QWidget {
    Q_OBJECT
  public:
    UpDown(QLineEdit* buddy, int min, int max, QWidget* parent);

    int Position() const { return position_; }
    // Clamps `value` into the range, stores it and shows it in the field.
    void SetPosition(int value);
    int Min() const { return min_; }
    int Max() const { return max_; }
    void StepBy(int steps) { SetPosition(position_ + steps); }
    QLineEdit* Buddy() const { return buddy_; }
    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }
    // Names the field `name` for assistive tools, and its arrows "`name` up" and "`name` down".
    void SetAccessibleNames(const QString& name);

  signals:
    void PositionChanged(int position);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int min_;
    int max_;
    int position_ = 0;
};

} // namespace morvel
