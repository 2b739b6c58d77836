// Files reach the main window from outside: dropped on it.
#include "tests/view/ViewFixture.h"
#include "widgets/FileDrop.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

namespace morvel::viewtest {

class FileArrivalTest : public ViewTest {
  protected:
    // Drops `data` on the main window as a file manager would, then lets the window act.
    bool Drop(QMimeData* data) {
        const QPoint at = form->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &drop);
        QApplication::processEvents();
        return drop.isAccepted();
    }
    QMimeData* Urls(const QList<QUrl>& urls) {
        auto* data = new QMimeData;
        data->setUrls(urls);
        owned.emplace_back(data);
        return data;
    }
    std::vector<std::unique_ptr<QMimeData>> owned;
};

TEST_F(FileArrivalTest, DroppedFileOpensAsOpenMidifileDoes) {
    const QString song = WriteMidi(OneTrack(), "dropped.mid");
    const QString other = WriteMidi(OneTrack(), "other.mid");
    ASSERT_TRUE(Drop(Urls({QUrl::fromLocalFile(song), QUrl::fromLocalFile(other)})));
    EXPECT_EQ(QString::fromStdString(conv.MidiFileName), song); // the first, the rest unsaid
    EXPECT_EQ(form->TracksMenu()->actions().size(), 1);
    EXPECT_TRUE(messages.empty());

    // Any file: the reader decides, and its messages are shown as when opening.
    const QString text = WriteMidi("not a MIDI file", "notes.txt");
    ASSERT_TRUE(Drop(Urls({QUrl::fromLocalFile(text)})));
    EXPECT_EQ(QString::fromStdString(conv.MidiFileName), text);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "Unknown header '6e 6f 74 20'.  Not MIDI!");

    // A web address or plain text is refused, and what is open stays open.
    form->OpenMidiFilePath(song);
    messages.clear();
    EXPECT_FALSE(Drop(Urls({QUrl("https://example.org/song.mid")})));
    auto* plain = new QMimeData;
    owned.emplace_back(plain);
    plain->setText(song);
    EXPECT_FALSE(Drop(plain));
    EXPECT_EQ(QString::fromStdString(conv.MidiFileName), song);
    EXPECT_TRUE(messages.empty());
}

} // namespace morvel::viewtest
