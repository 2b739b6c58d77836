// The chord window: the user types a chord name and sees its diagram. It is created once,
// hidden, and "Close" (or the window's close button) only hides it again.
#pragma once

#include "core/DisplaySettings.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;

namespace morvel {

class TChordsForm : public QWidget {
    Q_OBJECT
  public:
    // The diagrams are drawn in the colours of `display`, read at every paint.
    explicit TChordsForm(const DisplaySettings& display, QWidget* parent = nullptr);

    // The main window's "Chords" command: no chord, the window shown in front, an empty
    // diagram box and an empty name field.
    void ChordsMenuClick();
    // Change of the name field: a text naming a chord shows that chord; any other text keeps
    // the diagram last shown.
    void DisplayChord();
    // Paints the diagram box: the background, and the current chord's diagram if any.
    void RepaintChord(QPainter& canvas);
    // "Close": hides the window, keeping the current chord.
    void Button1Click();

    // Index of the chord shown (0..47), -1 when none.
    int CurrentChord() const { return currentChord_; }

    QLabel* Label1() const { return label1_; }
    QLineEdit* ChordEdit() const { return chordEdit_; }
    QWidget* ChordPaint() const { return chordPaint_; }
    QPushButton* Button1() const { return button1_; }

  private:
    const DisplaySettings& display_;
    int currentChord_ = -1;
    QLabel* label1_;
    QLineEdit* chordEdit_;
    QWidget* chordPaint_;
    QPushButton* button1_;
};

} // namespace morvel
