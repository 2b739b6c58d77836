#include "chords/TChordsForm.h"

#include "chords/ChordDiagram.h"
#include "core/Chords.h"
#include "view/VersionForm.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

#include <functional>
#include <string>

namespace morvel {

namespace {

constexpr int CLIENT_WIDTH = 425;
constexpr int CLIENT_HEIGHT = 329;
constexpr int WINDOW_FONT_PIXELS = 14;
const QRect LABEL_GEOMETRY(139, 10, 150, 20);
const QRect EDIT_GEOMETRY(140, 30, 149, 24);
const QRect PAINT_GEOMETRY(10, 69, 405, 218);
const QRect BUTTON_GEOMETRY(167, 295, 93, 31);

// A paint box: a windowless drawing area whose painting its owner does.
class PaintBox : public QWidget {
  public:
    PaintBox(std::function<void(QPainter&)> paint, QWidget* parent)
        : QWidget(parent), paint_(std::move(paint)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paint_(painter);
    }

  private:
    std::function<void(QPainter&)> paint_;
};

} // namespace

TChordsForm::TChordsForm(const DisplaySettings& display, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), display_(display) {
    setObjectName("ChordsForm");
    setWindowTitle("Chords Form");
    QFont font = QApplication::font();
    font.setPixelSize(WINDOW_FONT_PIXELS);
    setFont(font);
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);

    label1_ = new QLabel("Enter Chord:", this);
    label1_->setObjectName("Label1");
    label1_->setAlignment(Qt::AlignCenter);
    label1_->setGeometry(LABEL_GEOMETRY);

    chordEdit_ = new QLineEdit(this);
    chordEdit_->setObjectName("ChordEdit");
    chordEdit_->setAccessibleName("Chord name");
    chordEdit_->setGeometry(EDIT_GEOMETRY);
    label1_->setBuddy(chordEdit_);
    connect(chordEdit_, &QLineEdit::textChanged, this, [this] { DisplayChord(); });

    chordPaint_ = new PaintBox([this](QPainter& canvas) { RepaintChord(canvas); }, this);
    chordPaint_->setObjectName("ChordPaint");
    chordPaint_->setAccessibleName("Chord Diagram");
    chordPaint_->setGeometry(PAINT_GEOMETRY);

    button1_ = new QPushButton("Close", this);
    button1_->setObjectName("Button1");
    button1_->setGeometry(BUTTON_GEOMETRY);
    connect(button1_, &QPushButton::clicked, this, [this] { Button1Click(); });

    setTabOrder(chordEdit_, button1_);
    CentreOnScreen(this);
}

void TChordsForm::ChordsMenuClick() {
    currentChord_ = -1;
    show();
    raise();
    activateWindow();
    chordPaint_->update();
    chordEdit_->clear();
    chordEdit_->setFocus();
}

void TChordsForm::DisplayChord() {
    std::string text = chordEdit_->text().toStdString();
    if (text.empty()) return;
    const int chord = FindChordByName(text);
    if (chord == -1) return;
    currentChord_ = chord;
    chordPaint_->update();
}

void TChordsForm::RepaintChord(QPainter& canvas) {
    const QRect box(QPoint(0, 0), chordPaint_->size());
    PrepareChordBox(canvas, display_, box);
    DrawChordBox(canvas, display_, 0, 0, box.width(), box.height(), currentChord_);
}

void TChordsForm::Button1Click() {
    hide();
}

} // namespace morvel
