#include "view/VersionForm.h"

#include "core/Version.h"
#include "widgets/MeasureFont.h"
#include "widgets/Screen.h"

#include <QTextBrowser>
#include <QTextEdit>
#include <QVBoxLayout>

// The help pages live in a resource of this static library; register it before first use.
static void InitHelpResource() {
    Q_INIT_RESOURCE(help);
}

namespace morvel {

namespace {
constexpr int VERSION_WIDTH = 638;
constexpr int VERSION_HEIGHT = 252;
constexpr int VERSION_FONT_PIXELS = 17;
constexpr int VERSION_LINE_WIDTH = 62;
constexpr int HELP_WIDTH = 640;
constexpr int HELP_HEIGHT = 560;
} // namespace

QString VersionBanner() {
    return QStringLiteral("MORVEL for Linux v") + QString::fromLatin1(PROGRAM_VERSION);
}

TVersionForm::TVersionForm(QWidget* parent) : QDialog(parent), memo_(new QTextEdit(this)) {
    setObjectName("VersionForm");
    setWindowTitle("Version:");
    setFixedSize(VERSION_WIDTH, VERSION_HEIGHT);
    memo_->setObjectName("VersionMemo");
    memo_->setReadOnly(true);
    QFont font = MeasureFont(QFont());
    font.setBold(true);
    font.setPixelSize(VERSION_FONT_PIXELS);
    memo_->setFont(font);
    memo_->setTextColor(Qt::black);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(memo_);
    CentreOnScreen(this);
}

void TVersionForm::FillVersionText() {
    memo_->clear();
    const QString lines[] = {QString(), VersionBanner(), QString()};
    for (const QString& line : lines) {
        memo_->append(line.leftJustified(VERSION_LINE_WIDTH, ' '));
        memo_->setAlignment(Qt::AlignHCenter);
    }
}

THelpForm::THelpForm(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser) {
    InitHelpResource();
    setObjectName("HelpForm");
    setWindowTitle("MORVEL Help");
    browser_->setObjectName("HelpBrowser");
    setAccessibleName("MORVEL Help");
    browser_->setAccessibleName("Help Text");
    browser_->setOpenExternalLinks(false);
    browser_->setSource(QUrl("qrc:/help/index.html"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(HELP_WIDTH, HELP_HEIGHT);
}

} // namespace morvel
