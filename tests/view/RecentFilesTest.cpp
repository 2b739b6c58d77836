// Files reach the main window from outside: dropped on it, or chosen from "Recent Files",
// whose list lives in a file of its own.
#include "view/RecentFiles.h"
#include "tests/view/ViewFixture.h"
#include "widgets/FileDrop.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <filesystem>

namespace morvel::viewtest {

namespace {

QByteArray OneTrack() {
    Track t;
    t.Name("Guitar").Note(0, 64, 480).End();
    return Song({t});
}

QStringList ReadLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

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

TEST_F(FileArrivalTest, RecentFilesKeepsTheLastEightNewestFirst) {
    const QString listPath = dir.filePath("state/morvel/recent-files");
    RecentFiles list(listPath);
    RecentFilesMenu menu(*form, list, prompts);

    // Right after "Open Midifile", disabled while empty.
    const QList<QAction*> items = form->TopMenu("File1")->actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items[0]->objectName(), "OpenMidifile1");
    EXPECT_EQ(items[1], menu.menuAction());
    EXPECT_EQ(menu.title(), "Recent Files");
    EXPECT_FALSE(menu.menuAction()->isEnabled());

    QStringList songs;
    for (int i = 1; i <= 10; ++i)
        songs << WriteMidi(OneTrack(), QString("song%1.mid").arg(i));
    for (const QString& song : songs)
        form->OpenMidiFilePath(song);
    form->OpenMidiFilePath(songs[4]); // opened again: first, not twice
    const QStringList expected = {songs[4], songs[9], songs[8], songs[7],
                                  songs[6], songs[5], songs[3], songs[2]};
    EXPECT_EQ(list.Files(), expected);
    EXPECT_EQ(ReadLines(listPath), expected);
    for (const char* folder : {"state", "state/morvel"}) // created private
        EXPECT_EQ(std::filesystem::status(dir.filePath(folder).toStdString()).permissions(),
                  std::filesystem::perms::owner_all);
    ASSERT_EQ(menu.actions().size(), RecentFiles::MAX_FILES);
    EXPECT_EQ(menu.actions()[0]->text(), songs[4]);
    EXPECT_TRUE(menu.menuAction()->isEnabled());
    // Another copy of the program reads the same list.
    EXPECT_EQ(RecentFiles(listPath).Files(), expected);

    // Choosing an item opens its file.
    menu.actions()[2]->trigger();
    EXPECT_EQ(QString::fromStdString(conv.MidiFileName), songs[8]);
    EXPECT_EQ(list.Files().front(), songs[8]);
    EXPECT_TRUE(prompts.Messages.isEmpty());
}

TEST_F(FileArrivalTest, MissingFileIsRemovedWithAMessage) {
    const QString listPath = dir.filePath("recent-files");
    RecentFiles list(listPath);
    RecentFilesMenu menu(*form, list, prompts);
    const QString kept = WriteMidi(OneTrack(), "kept.mid");
    const QString gone = WriteMidi(OneTrack(), "gone & lost.mid");
    form->OpenMidiFilePath(gone);
    form->OpenMidiFilePath(kept);
    EXPECT_EQ(menu.actions()[1]->text(), QString(gone).replace("&", "&&"));
    ASSERT_TRUE(QFile::remove(gone));

    menu.actions()[1]->trigger();
    ASSERT_EQ(prompts.Messages.size(), 1);
    EXPECT_TRUE(prompts.Messages[0].contains(gone));
    EXPECT_EQ(list.Files(), QStringList{kept});
    EXPECT_EQ(ReadLines(listPath), QStringList{kept});
    EXPECT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(QString::fromStdString(conv.MidiFileName), kept); // what was open stays open
}

TEST(RecentFilesList, UnreadableOrForeignListCountsAsEmpty) {
    QTemporaryDir dir;
    // A folder where the list should be: nothing read, nothing written, no failure.
    const QString folder = dir.filePath("a-folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    RecentFiles inFolder(folder);
    EXPECT_TRUE(inFolder.Files().isEmpty());
    inFolder.Add("/music/a.mid");
    EXPECT_EQ(inFolder.Files(), QStringList{"/music/a.mid"});
    EXPECT_TRUE(QFileInfo(folder).isDir());

    // Relative names, blank lines, duplicates and lines beyond eight are dropped; a name with
    // a line break is never written.
    const QString listPath = dir.filePath("recent-files");
    QFile file(listPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("relative.mid\n\n/a.mid\n/a.mid\n\xff\xfe\n");
    for (int i = 0; i < 10; ++i)
        file.write(QString("/m%1.mid\n").arg(i).toUtf8());
    file.close();
    RecentFiles list(listPath);
    ASSERT_EQ(list.Files().size(), RecentFiles::MAX_FILES);
    EXPECT_EQ(list.Files()[0], "/a.mid");
    EXPECT_EQ(list.Files()[1], "/m0.mid");
    list.Add("/two\nlines.mid");
    EXPECT_EQ(list.Files()[0], "/a.mid");

    // A huge file is not a list.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(200 * 1024, '/'));
    file.close();
    EXPECT_TRUE(RecentFiles(listPath).Files().isEmpty());

    // The list lives under $XDG_STATE_HOME/morvel/, or ~/.local/state/morvel/.
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/tmp/state-home");
    EXPECT_EQ(RecentFiles::DefaultPath(), "/tmp/state-home/morvel/recent-files");
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(RecentFiles::DefaultPath(), QDir::homePath() + "/.local/state/morvel/recent-files");
    qputenv("XDG_STATE_HOME", saved);
}

} // namespace morvel::viewtest
