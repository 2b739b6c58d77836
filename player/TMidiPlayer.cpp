#include "player/TMidiPlayer.h"

#include "widgets/Screen.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace morvel {

namespace {

// The designed client area is 352 wide, 4 pixels short of its widest controls (the media
// label and the track bar, 356 each): the window takes their width.
constexpr int CLIENT_WIDTH = 356;
constexpr int CLIENT_HEIGHT = 304;
constexpr int STATUS_HEIGHT = 38; // the notices line below the controls
constexpr int PRACTICE_ROW = 28;  // the practice controls: six rows below the notices
constexpr int PRACTICE_ROWS = 6;
constexpr int PRACTICE_HEIGHT = PRACTICE_ROWS * PRACTICE_ROW + 8;
constexpr int FIELD_HEIGHT = 24;
constexpr int WINDOW_FONT_PIXELS = 14;
constexpr int MEDIA_LABEL_FONT_PIXELS = 18;
constexpr int STATUS_FONT_PIXELS = 11;
constexpr int PROGRESS_MAXIMUM = 100;
constexpr int PERCENT = 100;
constexpr int TRAINER_FROM_PERCENT = 60;
constexpr int TRAINER_STEP_PERCENT = 5;
constexpr int TRAINER_TO_PERCENT = 100;

// A field whose text the user is typing in: it keeps Space and Home.
bool IsTextField(const QWidget* widget) {
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
        return edit->isEnabled() && !edit->isReadOnly();
    if (const auto* box = qobject_cast<const QAbstractSpinBox*>(widget)) return !box->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->isEditable();
    return false;
}

struct Caption {
    int Left;
    int Width;
    const char* Text;
};
// The labels under the nine track-bar positions.
constexpr Caption TempoCaptions[] = {{0, 31, "1/8"},   {39, 31, "1/4"},  {79, 31, "1/2"},
                                     {118, 31, "3/4"}, {158, 40, "1"},   {197, 41, "5/4"},
                                     {236, 41, "6/4"}, {286, 30, "7/4"}, {325, 31, "2"}};

QLabel* CentredLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(geometry);
    return label;
}

} // namespace

TMidiPlayer::TMidiPlayer(MeasureView& view, Conversion& conversion, MidiPlayback& playback,
                         Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(view), conv_(conversion), playback_(playback),
      prompts_(prompts) {
    setObjectName("MidiPlayer");
    setWindowTitle("MIDI Player");
    QFont font = QApplication::font();
    font.setPixelSize(WINDOW_FONT_PIXELS);
    setFont(font);
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT + STATUS_HEIGHT + PRACTICE_HEIGHT);

    mediaLabel_ = CentredLabel(this, "MediaLabel", "MediaLabel", QRect(0, 0, 356, 31));
    QFont mediaFont("Liberation Mono");
    mediaFont.setPixelSize(MEDIA_LABEL_FONT_PIXELS);
    mediaLabel_->setFont(mediaFont);
    mediaLabel_->setStyleSheet("color: black");

    CentredLabel(this, "Label2", "Tempo:", QRect(98, 38, 169, 22));
    speedPercent_ = new QSpinBox(this);
    speedPercent_->setObjectName("SpeedPercent");
    speedPercent_->setAccessibleName("Speed in per cent");
    speedPercent_->setRange(MIN_SPEED_PERCENT, MAX_SPEED_PERCENT);
    speedPercent_->setValue(PERCENT);
    speedPercent_->setSuffix(" %");
    speedPercent_->setKeyboardTracking(false);
    speedPercent_->setGeometry(270, 35, 80, FIELD_HEIGHT);
    connect(speedPercent_, &QSpinBox::valueChanged, this,
            [this](int percent) { SelectSpeedPercent(percent); });
    tempoTrackBar_ = new QSlider(Qt::Horizontal, this);
    tempoTrackBar_->setObjectName("TempoTrackBar");
    tempoTrackBar_->setAccessibleName("Tempo");
    tempoTrackBar_->setGeometry(0, 59, 356, 41);
    tempoTrackBar_->setRange(1, TEMPO_STEPS);
    tempoTrackBar_->setValue(NORMAL_TEMPO_POSITION);
    tempoTrackBar_->setSingleStep(2);
    tempoTrackBar_->setPageStep(2);
    tempoTrackBar_->setTickInterval(1);
    tempoTrackBar_->setTickPosition(QSlider::TicksBelow);
    connect(tempoTrackBar_, &QSlider::valueChanged, this, [this] { SelectTempo(); });
    for (int i = 0; i < TEMPO_STEPS; ++i) {
        const Caption& c = TempoCaptions[i];
        CentredLabel(this, qPrintable(QString("Label%1").arg(i + 3)), c.Text,
                     QRect(c.Left, 107, c.Width, 22));
    }

    player_ = new QWidget(this);
    player_->setObjectName("Player");
    player_->setAccessibleName("Player");
    player_->setGeometry(108, 128, 137, 60);
    auto* buttons = new QHBoxLayout(player_);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(1);
    auto addButton = [this, buttons](const char* name, QStyle::StandardPixmap icon, auto action) {
        auto* button = new QToolButton(player_);
        button->setObjectName(name);
        button->setAccessibleName(name);
        button->setToolTip(name);
        button->setIcon(style()->standardIcon(icon));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        connect(button, &QToolButton::clicked, this, [this, action] {
            action();
            PlayerPostClick();
        });
        buttons->addWidget(button);
        return button;
    };
    play_ = addButton("Play", QStyle::SP_MediaPlay, [this] { PlayClick(); });
    pause_ = addButton("Pause", QStyle::SP_MediaPause, [this] { playback_.Pause(); });
    stop_ = addButton("Stop", QStyle::SP_MediaStop, [this] { playback_.Stop(); });
    prev_ = addButton("Prev", QStyle::SP_MediaSkipBackward, [this] { Home(); });

    CentredLabel(this, "Label1", "Measure:", QRect(118, 196, 120, 22));
    measureText_ = new QLineEdit(this);
    measureText_->setObjectName("MeasureText");
    measureText_->setAccessibleName("Measure");
    measureText_->setGeometry(128, 217, 100, 24);
    measureText_->setEnabled(false);
    CentredLabel(this, "MediaPosition", "Progress:", QRect(71, 245, 216, 22));
    mediaProgress_ = new QProgressBar(this);
    mediaProgress_->setObjectName("MediaProgress");
    mediaProgress_->setAccessibleName("Progress");
    mediaProgress_->setGeometry(69, 266, 218, 31);
    mediaProgress_->setRange(0, PROGRESS_MAXIMUM);
    mediaProgress_->setValue(0);
    mediaProgress_->setTextVisible(false);

    status_ = new QLabel(this);
    status_->setObjectName("PlayerStatus");
    status_->setGeometry(4, CLIENT_HEIGHT, CLIENT_WIDTH - 8, STATUS_HEIGHT - 2);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont statusFont = font;
    statusFont.setPixelSize(STATUS_FONT_PIXELS);
    status_->setFont(statusFont);

    BuildPracticeControls(CLIENT_HEIGHT + STATUS_HEIGHT);

    setTabOrder(play_, pause_);
    setTabOrder(pause_, stop_);
    setTabOrder(stop_, prev_);
    setTabOrder(prev_, mediaProgress_);
    setTabOrder(mediaProgress_, measureText_);
    setTabOrder(measureText_, tempoTrackBar_);
    setTabOrder(tempoTrackBar_, speedPercent_);
    setTabOrder(speedPercent_, startMeasure_);
    setTabOrder(startMeasure_, loopFrom_);
    setTabOrder(loopFrom_, loopTo_);
    setTabOrder(loopTo_, loop_);
    setTabOrder(loop_, playChoice_);
    setTabOrder(playChoice_, countIn_);
    setTabOrder(countIn_, countInEachPass_);
    setTabOrder(countInEachPass_, raiseSpeed_);
    setTabOrder(raiseSpeed_, speedFrom_);
    setTabOrder(speedFrom_, speedStep_);
    setTabOrder(speedStep_, speedTo_);
    InstallKeys(*this);
    qApp->installEventFilter(this);

    // What the view shows changed: its highlight is gone, so the next one is due at once.
    connect(&view_, &MeasureView::ShownChanged, this, [this] {
        MediaTimer();
        ApplyPractice(); // the shown track is the one soloed or muted
    });
    connect(&view_, &MeasureView::MeasureDoubleClicked, this,
            [this](int measure) { StartAtMeasure(measure); });
    connect(&view_, &MeasureView::MeasureRangeChosen, this,
            [this](int from, int to) { ChooseLoop(from, to); });
    // No music outlives the program's windows.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { playback_.Close(); });

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(TIMER_INTERVAL_MS);
    connect(timer1_, &QTimer::timeout, this, [this] { MediaTimer(); });
    timer1_->start();
    // The sound card and the SoundFont are found while the program starts; the timer shows
    // the notices once they are known.
    UpdateEnabled();
    ShowSpeed();
}

void TMidiPlayer::BuildPracticeControls(int top) {
    auto label = [this](const char* name, const QString& text, QRect geometry) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        l->setGeometry(geometry);
        return l;
    };
    auto spinBox = [this](const char* name, const char* accessible, QRect geometry) {
        auto* box = new QSpinBox(this);
        box->setObjectName(name);
        box->setAccessibleName(accessible);
        box->setGeometry(geometry);
        box->setRange(1, 1);
        box->setKeyboardTracking(false);
        return box;
    };
    auto percentBox = [&spinBox](const char* name, const char* accessible, QRect geometry,
                                 int minimum, int value) {
        QSpinBox* box = spinBox(name, accessible, geometry);
        box->setRange(minimum, MAX_SPEED_PERCENT);
        box->setValue(value);
        box->setSuffix(" %");
        return box;
    };
    auto checkBox = [this](const char* name, const QString& text, QRect geometry) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(name);
        box->setAccessibleName(text);
        box->setGeometry(geometry);
        connect(box, &QCheckBox::toggled, this, [this] { ApplyPractice(); });
        return box;
    };
    int y = top + 4;
    label("StartMeasureLabel", "Start at measure", QRect(8, y, 140, FIELD_HEIGHT));
    startMeasure_ = spinBox("StartMeasure", "Start at measure", QRect(150, y, 80, FIELD_HEIGHT));
    connect(startMeasure_, &QSpinBox::valueChanged, this, [this](int start) {
        wantedStart_ = start;
        startPending_ = true;
    });

    y += PRACTICE_ROW;
    label("LoopLabel", "Loop measures", QRect(8, y, 110, FIELD_HEIGHT));
    loopFrom_ = spinBox("LoopFrom", "Loop from", QRect(118, y, 70, FIELD_HEIGHT));
    label("LoopToLabel", "to", QRect(192, y, 20, FIELD_HEIGHT));
    loopTo_ = spinBox("LoopTo", "Loop to", QRect(212, y, 70, FIELD_HEIGHT));
    loop_ = checkBox("LoopCheck", "Loop", QRect(288, y, 60, FIELD_HEIGHT));
    // The fields can be typed in either order: a From beyond To moves To with it, a To
    // before From moves From.
    connect(loopFrom_, &QSpinBox::valueChanged, this, [this](int from) {
        wantedFrom_ = from;
        if (loopTo_->value() < from) {
            const QSignalBlocker blocker(loopTo_);
            loopTo_->setValue(from);
            wantedTo_ = from;
        }
        ApplyPractice();
    });
    connect(loopTo_, &QSpinBox::valueChanged, this, [this](int to) {
        wantedTo_ = to;
        if (loopFrom_->value() > to) {
            const QSignalBlocker blocker(loopFrom_);
            loopFrom_->setValue(to);
            wantedFrom_ = to;
        }
        ApplyPractice();
    });

    y += PRACTICE_ROW;
    label("PlayChoiceLabel", "Play:", QRect(8, y, 40, FIELD_HEIGHT));
    playChoice_ = new QComboBox(this);
    playChoice_->setObjectName("PlayChoice");
    playChoice_->setAccessibleName("Play");
    playChoice_->addItems({"All tracks", "Only this track", "All but this track"});
    playChoice_->setGeometry(50, y, 180, FIELD_HEIGHT);
    connect(playChoice_, &QComboBox::currentIndexChanged, this, [this] { ApplyPractice(); });

    y += PRACTICE_ROW;
    countIn_ = checkBox("CountIn", "Count in", QRect(8, y, 110, FIELD_HEIGHT));
    countInEachPass_ =
        checkBox("CountInEachPass", "Count in at each pass", QRect(124, y, 220, FIELD_HEIGHT));

    y += PRACTICE_ROW;
    raiseSpeed_ = checkBox("RaiseSpeed", "Raise speed each pass", QRect(8, y, 200, FIELD_HEIGHT));
    speedNow_ = label("SpeedNow", QString(), QRect(212, y, 140, FIELD_HEIGHT));
    speedNow_->setAccessibleName("Speed now");

    y += PRACTICE_ROW;
    label("SpeedFromLabel", "start", QRect(28, y, 36, FIELD_HEIGHT));
    speedFrom_ = percentBox("SpeedFrom", "Start speed", QRect(64, y, 72, FIELD_HEIGHT),
                            MIN_SPEED_PERCENT, TRAINER_FROM_PERCENT);
    label("SpeedStepLabel", "step", QRect(142, y, 32, FIELD_HEIGHT));
    speedStep_ = percentBox("SpeedStep", "Speed step", QRect(174, y, 64, FIELD_HEIGHT), 1,
                            TRAINER_STEP_PERCENT);
    label("SpeedToLabel", "up to", QRect(244, y, 36, FIELD_HEIGHT));
    speedTo_ = percentBox("SpeedTo", "Target speed", QRect(280, y, 72, FIELD_HEIGHT),
                          MIN_SPEED_PERCENT, TRAINER_TO_PERCENT);
    for (QSpinBox* box : {speedFrom_, speedStep_, speedTo_})
        connect(box, &QSpinBox::valueChanged, this, [this] { ApplyPractice(); });
}

int64_t TMidiPlayer::MeasureStartTick(int64_t measure) const {
    if (SelectedTrackMeasureCount() < 1) return 0;
    const TrackRecord& track = conv_.TrackList[static_cast<size_t>(view_.SelectedTrack()) - 1];
    return (std::max<int64_t>(measure, 1) - 1) * MeasureTicks(conv_.Header.Division, track);
}

void TMidiPlayer::UpdatePracticeRanges() {
    const int64_t n = SelectedTrackMeasureCount();
    if (n == rangeMeasures_) return;
    rangeMeasures_ = n;
    UpdateEnabled();
    // With no track on show the fields keep what they show: the measures they count are gone
    // only until a track is shown again.
    if (n >= 1) {
        const int last = static_cast<int>(std::min<int64_t>(n, INT32_MAX));
        const QSignalBlocker a(startMeasure_), b(loopFrom_), c(loopTo_);
        for (QSpinBox* box : {startMeasure_, loopFrom_, loopTo_})
            box->setRange(1, last);
        startMeasure_->setValue(std::clamp(wantedStart_, 1, last));
        loopFrom_->setValue(std::clamp(wantedFrom_, 1, last));
        loopTo_->setValue(std::clamp(wantedTo_, 1, last));
    }
    ApplyPractice();
}

void TMidiPlayer::ResetPractice() {
    wantedStart_ = wantedFrom_ = wantedTo_ = 1;
    const QSignalBlocker a(startMeasure_), b(loopFrom_), c(loopTo_), d(loop_), e(playChoice_);
    for (QSpinBox* box : {startMeasure_, loopFrom_, loopTo_})
        box->setValue(1);
    loop_->setChecked(false);
    playChoice_->setCurrentIndex(0);
}

void TMidiPlayer::UpdateEnabled() {
    const bool open = playback_.IsOpen();
    for (QWidget* w : std::initializer_list<QWidget*>{play_, pause_, stop_, prev_})
        if (w->isEnabled() != open) w->setEnabled(open);
    // The measures and the tracks heard refer to the track on show.
    const bool track = open && SelectedTrackMeasureCount() >= 1;
    for (QWidget* w :
         std::initializer_list<QWidget*>{startMeasure_, loopFrom_, loopTo_, loop_, playChoice_})
        if (w->isEnabled() != track) w->setEnabled(track);
}

void TMidiPlayer::ShowSpeed() {
    const QString text =
        QString("Speed: %1 %").arg(std::lround(playback_.CurrentSpeed() * PERCENT));
    if (speedNow_->text() != text) speedNow_->setText(text);
}

void TMidiPlayer::ApplyPractice() {
    MidiPlayback::Practice practice;
    const int track = view_.SelectedTrack();
    const bool shown = SelectedTrackMeasureCount() >= 1;
    practice.Loop = shown && loop_->isChecked();
    practice.LoopFrom = MeasureStartTick(loopFrom_->value());
    practice.LoopTo = MeasureStartTick(static_cast<int64_t>(loopTo_->value()) + 1);
    if (shown) {
        practice.Tracks = static_cast<TrackChoice>(playChoice_->currentIndex());
        practice.Track = track - 1;
    }
    practice.CountIn = countIn_->isChecked();
    practice.CountInEachPass = countInEachPass_->isChecked();
    practice.RaiseSpeed = raiseSpeed_->isChecked();
    practice.SpeedFrom = speedFrom_->value() / double(PERCENT);
    practice.SpeedStep = speedStep_->value() / double(PERCENT);
    practice.SpeedTo = speedTo_->value() / double(PERCENT);
    playback_.SetPractice(practice);
    if (practice.Loop)
        view_.SetLoopMarks(loopFrom_->value(), loopTo_->value());
    else
        view_.SetLoopMarks(0, 0);
    ShowSpeed();
}

void TMidiPlayer::ChooseLoop(int from, int to) {
    if (SelectedTrackMeasureCount() < 1) return;
    wantedFrom_ = std::min(from, to);
    wantedTo_ = std::max(from, to);
    {
        const QSignalBlocker a(loopFrom_), b(loopTo_), c(loop_);
        loopFrom_->setValue(wantedFrom_);
        loopTo_->setValue(wantedTo_);
        loop_->setChecked(true);
    }
    ApplyPractice();
}

void TMidiPlayer::PlayClick() {
    if (startPending_ && !playback_.IsPlaying() && !playback_.IsPaused())
        playback_.PlayFrom(MeasureStartTick(startMeasure_->value()));
    else
        playback_.Play();
    startPending_ = false;
}

void TMidiPlayer::StartAtMeasure(int measure) {
    if (SelectedTrackMeasureCount() < 1) return;
    if (!isVisible()) PlayMidifile1Click();
    if (!playback_.IsOpen()) return;
    {
        const QSignalBlocker blocker(startMeasure_);
        startMeasure_->setValue(measure);
    }
    playback_.PlayFrom(MeasureStartTick(measure));
    startPending_ = false;
    PlayerPostClick();
}

void TMidiPlayer::PlayOrPause() {
    if (playback_.IsPlaying())
        playback_.Pause();
    else
        PlayClick();
    PlayerPostClick();
}

void TMidiPlayer::Home() {
    const MidiPlayback::Practice& practice = playback_.CurrentPractice();
    playback_.Seek(practice.Loop ? practice.LoopFrom : MeasureStartTick(startMeasure_->value()));
    startPending_ = false;
    PlayerPostClick();
}

void TMidiPlayer::InstallKeys(QWidget& window) {
    if (!keyWindows_.contains(&window)) keyWindows_.append(&window);
}

bool TMidiPlayer::eventFilter(QObject* watched, QEvent* event) {
    // Every key press of the application passes here first, at the widget with the focus:
    // Space and Home are taken from any control of the windows given, text fields excepted.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = static_cast<QWidget*>(watched);
        if (!keyWindows_.contains(widget->window()) || IsTextField(widget) || key->isAutoRepeat())
            return QWidget::eventFilter(watched, event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (key->key() == Qt::Key_Space) {
                PlayOrPause();
                return true;
            }
            if (key->key() == Qt::Key_Home) {
                Home();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

TMidiPlayer::~TMidiPlayer() {
    playback_.Close();
}

void TMidiPlayer::ShowNotices() {
    QStringList notices;
    if (!openError_.isEmpty()) notices << openError_;
    for (const std::string& notice : playback_.Notices())
        notices << QString::fromStdString(notice);
    const QString text = notices.join('\n');
    if (status_->text() != text) status_->setText(text);
    QStringList details;
    for (const std::string& message : playback_.SynthMessages())
        details << QString::fromStdString(message);
    status_->setToolTip(details.join('\n'));
}

void TMidiPlayer::ShowPath(const QString& path) {
    // A path wider than the label loses its beginning, so the file name stays readable; the
    // whole path is in the tooltip.
    mediaLabel_->setText(
        mediaLabel_->fontMetrics().elidedText(path, Qt::ElideLeft, mediaLabel_->width()));
    mediaLabel_->setToolTip(path);
}

void TMidiPlayer::OpenForPlaying() {
    if (!song_) return;
    ShowPath(QFile::decodeName(QByteArray::fromStdString(song_->Path)));
    openError_.clear();
    if (!playback_.OpenBytes(song_)) {
        // The conversion has told the user already; the window says why it cannot play.
        openError_ = QString::fromStdString(playback_.Error());
        UpdateEnabled();
        ShowNotices();
        return;
    }
    // Open again: from the start, or the "Start at measure" field.
    startPending_ = true;
    ApplyPractice();
    UpdateEnabled();
}

void TMidiPlayer::PrepareFile(SongPointer song) {
    song_ = std::move(song);
    const QString path =
        song_ ? QFile::decodeName(QByteArray::fromStdString(song_->Path)) : QString();
    if (path != practicePath_) ResetPractice();
    practicePath_ = path;
    measureText_->clear();
    mediaProgress_->setValue(0);
    OpenForPlaying();
    if (!playback_.IsOpen()) return;
    rangeMeasures_ = -2;
    UpdatePracticeRanges();
    conv_.Settings.SequenceTempo = playback_.SequenceTempo();
    conv_.Settings.TempoFactor = 1.0;
    {
        const QSignalBlocker a(tempoTrackBar_), b(speedPercent_);
        tempoTrackBar_->setValue(NORMAL_TEMPO_POSITION);
        speedPercent_->setValue(PERCENT);
    }
    changeTempo(conv_.Settings.TempoFactor);
    ShowNotices();
}

void TMidiPlayer::FileClosed() {
    playback_.Close();
    song_.reset();
    ShowPath(QString());
    openError_.clear();
    measureText_->clear();
    mediaProgress_->setValue(0);
    view_.SetLoopMarks(0, 0);
    UpdateEnabled();
    ShowNotices();
}

void TMidiPlayer::PlayMidifile1Click() {
    if (!song_) return;
    CentreOnScreen(this);
    show();
    raise();
    activateWindow();
    OpenForPlaying();
    // The track bar keeps its place, and so does the speed it shows.
    changeTempo(conv_.Settings.TempoFactor);
    ShowNotices();
    MediaTimer();
}

void TMidiPlayer::MediaTimer() {
    const std::string failure = playback_.TakeFailure();
    if (!failure.empty()) {
        openError_ = QString::fromStdString(failure);
        ShowNotices();
        if (!isVisible()) prompts_.ShowMessage(openError_);
    }
    if (!noticesReady_ && playback_.IsReady()) {
        noticesReady_ = true;
        ShowNotices();
    }
    UpdatePracticeRanges();

    double fraction = 0;
    const int64_t n = SelectedTrackMeasureCount();
    const int64_t length = playback_.IsOpen() ? playback_.Length() : 0;
    const int64_t position = length < 1 ? 0 : std::clamp<int64_t>(playback_.Position(), 0, length);
    if (length >= 1) fraction = static_cast<double>(position) / static_cast<double>(length);
    if (n < 1 || length < 1) {
        // No measure to follow (the whole file plays): the last highlight and measure go.
        if (view_.PlayingMeasure() != -1) view_.UnhighlightMeasure(view_.PlayingMeasure());
        if (!measureText_->text().isEmpty()) measureText_->clear();
    } else {
        const TrackRecord& track = conv_.TrackList[static_cast<size_t>(view_.SelectedTrack()) - 1];
        const uint32_t ticks = MeasureTicks(conv_.Header.Division, track);
        const int64_t m = std::clamp<int64_t>(ticks ? position / ticks + 1 : 1, 1, n);
        const int measure = static_cast<int>(std::min<int64_t>(m, INT32_MAX));
        if (measure != view_.PlayingMeasure()) {
            if (view_.PlayingMeasure() != -1) view_.UnhighlightMeasure(view_.PlayingMeasure());
            view_.HighlightMeasure(measure);
            if (conv_.Settings.FollowMusic) view_.ScrollToMeasure(measure);
        }
        const QString text = QString::asprintf("%d of %lld", measure, static_cast<long long>(n));
        if (measureText_->text() != text) measureText_->setText(text);
    }
    mediaProgress_->setValue(static_cast<int>(fraction * PROGRESS_MAXIMUM));
    ShowSpeed();
}

void TMidiPlayer::SelectTempo() {
    const int position = tempoTrackBar_->value();
    if (position < 1 || position > TEMPO_STEPS) return;
    conv_.Settings.TempoFactor = TempoFactors[static_cast<size_t>(position) - 1];
    {
        // The field shows the step in per cent, as near as its range allows.
        const QSignalBlocker blocker(speedPercent_);
        speedPercent_->setValue(
            static_cast<int>(std::lround(conv_.Settings.TempoFactor * PERCENT)));
    }
    changeTempo(conv_.Settings.TempoFactor);
    ShowSpeed();
}

void TMidiPlayer::SelectSpeedPercent(int percent) {
    conv_.Settings.TempoFactor = percent / double(PERCENT);
    // A speed that is one of the nine steps moves the track bar there; another leaves it.
    for (int i = 0; i < TEMPO_STEPS; ++i)
        if (std::lround(TempoFactors[static_cast<size_t>(i)] * PERCENT) == percent) {
            const QSignalBlocker blocker(tempoTrackBar_);
            tempoTrackBar_->setValue(i + 1);
        }
    changeTempo(conv_.Settings.TempoFactor);
    ShowSpeed();
}

void TMidiPlayer::changeTempo(double factor) {
    playback_.SetSpeed(factor); // a factor the service refuses changes nothing
}

void TMidiPlayer::PlayerPostClick() {
    changeTempo(conv_.Settings.TempoFactor);
    ShowNotices();
    MediaTimer();
}

int64_t TMidiPlayer::SelectedTrackMeasureCount() const {
    const int track = view_.SelectedTrack();
    if (track == 0) return 0;
    // A closed view keeps the number of its track but shows no measure of it.
    if (track >= 1 && !view_.ShowsTrack()) return 0;
    const int64_t count = view_.TrackMeasureCount(track);
    if (count < 1 || !playback_.IsOpen()) return count;
    const TrackRecord& record = conv_.TrackList[static_cast<size_t>(track) - 1];
    const uint32_t ticks = MeasureTicks(conv_.Header.Division, record);
    const int64_t length = playback_.Length();
    if (!record.Notes.empty() || ticks == 0 || length < 1) return count;
    return std::max<int64_t>(count, (length - 1) / ticks + 1);
}

} // namespace morvel
