#include "player/TMidiPlayer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace morvel {

namespace {

constexpr int CLIENT_WIDTH = 352;
constexpr int CLIENT_HEIGHT = 304;
constexpr int STATUS_HEIGHT = 38; // the notices line below the controls
constexpr int WINDOW_FONT_PIXELS = 14;
constexpr int MEDIA_LABEL_FONT_PIXELS = 18;
constexpr int STATUS_FONT_PIXELS = 11;
constexpr int PROGRESS_MAXIMUM = 100;

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
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT + STATUS_HEIGHT);

    mediaLabel_ = CentredLabel(this, "MediaLabel", "MediaLabel", QRect(0, 0, 356, 31));
    QFont mediaFont("Liberation Mono");
    mediaFont.setPixelSize(MEDIA_LABEL_FONT_PIXELS);
    mediaLabel_->setFont(mediaFont);
    mediaLabel_->setStyleSheet("color: black");

    CentredLabel(this, "Label2", "Tempo:", QRect(98, 38, 169, 22));
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
    play_ = addButton("Play", QStyle::SP_MediaPlay, [this] { playback_.Play(); });
    pause_ = addButton("Pause", QStyle::SP_MediaPause, [this] { playback_.Pause(); });
    stop_ = addButton("Stop", QStyle::SP_MediaStop, [this] { playback_.Stop(); });
    prev_ = addButton("Prev", QStyle::SP_MediaSkipBackward, [this] { playback_.Rewind(); });

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

    setTabOrder(play_, pause_);
    setTabOrder(pause_, stop_);
    setTabOrder(stop_, prev_);
    setTabOrder(prev_, mediaProgress_);
    setTabOrder(mediaProgress_, measureText_);
    setTabOrder(measureText_, tempoTrackBar_);

    // What the view shows changed: its highlight is gone, so the next one is due at once.
    connect(&view_, &MeasureView::ShownChanged, this, [this] { MediaTimer(); });
    // No music outlives the program's windows.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { playback_.Close(); });

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(TIMER_INTERVAL_MS);
    connect(timer1_, &QTimer::timeout, this, [this] { MediaTimer(); });
    timer1_->start();
    // The notices wait for the SoundFont, which loads while the program starts: they are
    // shown once a file is prepared.
}

TMidiPlayer::~TMidiPlayer() {
    playback_.Close();
}

void TMidiPlayer::ShowNotices() {
    QStringList notices;
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

void TMidiPlayer::OpenForPlaying(const QString& path) {
    ShowPath(path);
    if (!playback_.Open(path.toStdString())) {
        prompts_.ShowMessage(QString::fromStdString(playback_.Error()));
        return;
    }
}

void TMidiPlayer::PrepareFile(const QString& path) {
    OpenForPlaying(path);
    if (!playback_.IsOpen()) return;
    conv_.Settings.SequenceTempo = playback_.SequenceTempo();
    conv_.Settings.TempoFactor = 1.0;
    {
        const QSignalBlocker blocker(tempoTrackBar_);
        tempoTrackBar_->setValue(NORMAL_TEMPO_POSITION);
    }
    changeTempo(conv_.Settings.TempoFactor);
    ShowNotices();
}

void TMidiPlayer::FileClosed() {
    playback_.Close();
    ShowPath(QString());
}

void TMidiPlayer::PlayMidifile1Click() {
    const QString path = QString::fromStdString(conv_.MidiFileName);
    if (path.isEmpty()) return;
    if (const QScreen* screen = QApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
    show();
    raise();
    activateWindow();
    OpenForPlaying(path);
    // The track bar keeps its place, and so does the speed it shows.
    changeTempo(conv_.Settings.TempoFactor);
    ShowNotices();
    MediaTimer();
}

void TMidiPlayer::MediaTimer() {
    const std::string failure = playback_.TakeFailure();
    if (!failure.empty()) prompts_.ShowMessage(QString::fromStdString(failure));

    double fraction = 0;
    const int64_t n = SelectedTrackMeasureCount();
    const int64_t length = playback_.IsOpen() ? playback_.Length() : 0;
    if (n < 1 || length < 1) {
        // Nothing to follow: the last highlight goes too.
        if (view_.PlayingMeasure() != -1) view_.UnhighlightMeasure(view_.PlayingMeasure());
    } else {
        const int64_t position = std::clamp<int64_t>(playback_.Position(), 0, length);
        fraction = static_cast<double>(position) / static_cast<double>(length);
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
}

void TMidiPlayer::SelectTempo() {
    const int position = tempoTrackBar_->value();
    if (position < 1 || position > TEMPO_STEPS) return;
    conv_.Settings.TempoFactor = TempoFactors[static_cast<size_t>(position) - 1];
    changeTempo(conv_.Settings.TempoFactor);
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
    return view_.TrackMeasureCount(track);
}

} // namespace morvel
