// "Recent Files" joined to the main window as the program does it: its list, its file and its
// menu.
#include "app/RecentFilesConnection.h"
#include "tests/view/ViewFixture.h"

#include <QDir>

#include <filesystem>

namespace morvel::viewtest {

namespace {

std::vector<std::string> ReadLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::vector<std::string> lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty()) lines.push_back(line.toStdString());
    return lines;
}

std::string Bytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

class RecentFilesTest : public ViewTest {
  protected:
    std::string ListPath(const char* name) { return Bytes(dir.filePath(name)); }
};

TEST_F(RecentFilesTest, KeepsTheLastEightFilesThatOpenedNewestFirst) {
    const std::string listPath = ListPath("state/morvel/recent-files");
    RecentFiles list(listPath);
    RecentFilesMenu* menu = ConnectRecentFiles(*form, list, prompts);

    // Right after "Open Midifile", disabled while empty.
    const QList<QAction*> items = form->TopMenu("File1")->actions();
    ASSERT_GE(items.size(), 2);
    EXPECT_EQ(items[0]->objectName(), "OpenMidifile1");
    EXPECT_EQ(items[1], menu->menuAction());
    EXPECT_EQ(menu->title(), "Recent Files");
    EXPECT_FALSE(menu->menuAction()->isEnabled());

    // What did not open is not listed: a missing file, a folder, an empty or foreign file.
    form->OpenMidiFilePath(dir.filePath("missing.mid"));
    form->OpenMidiFilePath(dir.path());
    form->OpenMidiFilePath(WriteMidi("", "empty.mid"));
    form->OpenMidiFilePath(WriteMidi("not a MIDI file", "notes.mid"));
    EXPECT_TRUE(list.Files().empty());
    EXPECT_FALSE(messages.empty()); // each said why

    std::vector<std::string> songs;
    for (int i = 1; i <= 10; ++i)
        songs.push_back(Bytes(WriteMidi(OneTrack(), QString("song%1.mid").arg(i))));
    for (const std::string& song : songs)
        form->OpenMidiFilePath(QFile::decodeName(song.c_str()));
    form->OpenMidiFilePath(QFile::decodeName(songs[4].c_str())); // again: first, not twice
    const std::vector<std::string> expected = {songs[4], songs[9], songs[8], songs[7],
                                               songs[6], songs[5], songs[3], songs[2]};
    EXPECT_EQ(list.Files(), expected);
    EXPECT_EQ(ReadLines(QFile::decodeName(listPath.c_str())), expected);
    for (const char* folder : {"state", "state/morvel"}) // created private
        EXPECT_EQ(std::filesystem::status(dir.filePath(folder).toStdString()).permissions(),
                  std::filesystem::perms::owner_all);
    ASSERT_EQ(menu->actions().size(), static_cast<qsizetype>(RecentFiles::MAX_FILES));
    EXPECT_EQ(menu->actions()[0]->text(), QString::fromStdString(songs[4]));
    EXPECT_TRUE(menu->menuAction()->isEnabled());
    // Another copy of the program reads the same list.
    EXPECT_EQ(RecentFiles(listPath).Files(), expected);

    // Choosing an item opens its file.
    menu->actions()[2]->trigger();
    EXPECT_EQ(conv.MidiFileName, songs[8]);
    EXPECT_EQ(list.Files().front(), songs[8]);
    EXPECT_TRUE(prompts.Messages.isEmpty());
}

TEST_F(RecentFilesTest, MissingFileIsRemovedWithAMessage) {
    const std::string listPath = ListPath("recent-files");
    RecentFiles list(listPath);
    RecentFilesMenu* menu = ConnectRecentFiles(*form, list, prompts);
    const QString kept = WriteMidi(OneTrack(), "kept.mid");
    const QString gone = WriteMidi(OneTrack(), "gone & lost.mid");
    form->OpenMidiFilePath(gone);
    form->OpenMidiFilePath(kept);
    EXPECT_EQ(menu->actions()[1]->text(), QString(gone).replace("&", "&&"));
    ASSERT_TRUE(QFile::remove(gone));

    menu->actions()[1]->trigger();
    ASSERT_EQ(prompts.Messages.size(), 1);
    EXPECT_TRUE(prompts.Messages[0].contains(gone));
    EXPECT_EQ(list.Files(), std::vector<std::string>{Bytes(kept)});
    EXPECT_EQ(ReadLines(QFile::decodeName(listPath.c_str())), std::vector<std::string>{Bytes(kept)});
    EXPECT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(conv.MidiFileName, Bytes(kept)); // what was open stays open
}

TEST_F(RecentFilesTest, UnwritableListIsKeptForTheSessionAndSaidOnce) {
    // The state folder's place is taken by a file: the list can never be written.
    const QString blocker = WriteMidi("", "state");
    RecentFiles list(ListPath("state/morvel/recent-files"));
    RecentFilesMenu* menu = ConnectRecentFiles(*form, list, prompts);
    const QString first = WriteMidi(OneTrack(), "first.mid");
    const QString second = WriteMidi(OneTrack(), "second.mid");
    form->OpenMidiFilePath(first);
    form->OpenMidiFilePath(second);
    ASSERT_EQ(prompts.Messages.size(), 1);
    EXPECT_TRUE(prompts.Messages[0].startsWith("Can't save the Recent Files list")) << prompts.Messages[0].toStdString();
    EXPECT_TRUE(prompts.Messages[0].contains(blocker));
    EXPECT_EQ(list.Files(), (std::vector<std::string>{Bytes(second), Bytes(first)}));
    EXPECT_EQ(menu->actions().size(), 2);
}

TEST(RecentFilesList, KeepsNamesAsBytesAndCountsAForeignListAsEmpty) {
    QTemporaryDir dir;
    // A folder where the list should be: nothing read, nothing written.
    const std::string folder = QFile::encodeName(dir.filePath("a-folder")).toStdString();
    ASSERT_TRUE(QDir().mkpath(dir.filePath("a-folder")));
    RecentFiles inFolder(folder);
    EXPECT_TRUE(inFolder.Files().empty());
    std::string error;
    EXPECT_FALSE(inFolder.Add("/music/a.mid", error));
    EXPECT_EQ(inFolder.Files(), std::vector<std::string>{"/music/a.mid"});
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    // Relative names, blank lines, duplicates and lines beyond eight are dropped; a name with
    // a line break is never written; a name that is not UTF-8 keeps its bytes.
    const std::string listPath = QFile::encodeName(dir.filePath("recent-files")).toStdString();
    QFile file(QString::fromStdString(listPath));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("relative.mid\n\n/caf\xe9.mid\n/caf\xe9.mid\n\xff\xfe\n");
    for (int i = 0; i < 10; ++i)
        file.write(QString("/m%1.mid\n").arg(i).toUtf8());
    file.close();
    RecentFiles list(listPath);
    ASSERT_EQ(list.Files().size(), RecentFiles::MAX_FILES);
    EXPECT_EQ(list.Files()[0], "/caf\xe9.mid");
    EXPECT_EQ(list.Files()[1], "/m0.mid");
    EXPECT_TRUE(list.Add("/two\nlines.mid", error));
    EXPECT_EQ(list.Files()[0], "/caf\xe9.mid");
    EXPECT_TRUE(list.Add("/other\xff.mid", error));
    EXPECT_EQ(RecentFiles(listPath).Files()[0], "/other\xff.mid");
    // The menu shows such a name with a replacement character.
    test::ScriptedPrompts prompts;
    RecentFilesMenu menu(list, prompts, nullptr);
    EXPECT_EQ(menu.actions()[0]->text(), QString("/other\uFFFD.mid"));

    // A huge file is not a list.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(200 * 1024, '/'));
    file.close();
    EXPECT_TRUE(RecentFiles(listPath).Files().empty());

    // The list lives under $XDG_STATE_HOME/morvel/, or ~/.local/state/morvel/.
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/tmp/state-home");
    EXPECT_EQ(RecentFiles::DefaultPath(), "/tmp/state-home/morvel/recent-files");
    qunsetenv("XDG_STATE_HOME");
    EXPECT_EQ(RecentFiles::DefaultPath(),
              QDir::homePath().toStdString() + "/.local/state/morvel/recent-files");
    qputenv("XDG_STATE_HOME", saved);
}

} // namespace morvel::viewtest
