// "Open Midifile" reads the file once, and the tab on the screen, the player and "Save
// MusicXML" all come from the bytes read then, even after the file on disk was replaced.
#include "app/ExportConnection.h"
#include "app/PlayerConnection.h"
#include "formats/MusicXml.h"
#include "io/ByteSource.h"
#include "tests/support/MidiBuilder.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>
#include <set>

namespace morvel {
namespace {

using test::MidiBuilder;
using test::TrackBuilder;

constexpr int DIVISION = 96;

// One track of quarter notes on `keys`, at tempo 120.
std::string Song(std::initializer_list<int> keys) {
    TrackBuilder track;
    track.Tempo();
    for (int key : keys)
        track.Note(0, key, DIVISION);
    track.End();
    return MidiBuilder(0, DIVISION).Add(track).Bytes();
}

void WriteFile(const QString& path, const std::string& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
              static_cast<qint64>(bytes.size()));
}

std::set<int> TrackKeys(const Conversion& conversion) {
    std::set<int> keys;
    for (const TrackRecord& track : conversion.TrackList)
        for (const NoteRecord& note : track.Notes)
            keys.insert(note.Note);
    return keys;
}

std::string MusicXmlOf(const std::string& bytes, const std::string& name) {
    Conversion conversion;
    conversion.SetReporter([](const std::string&) {});
    MusicXmlOptions options;
    options.WorkTitle = "song.mid";
    options.Tracks = {0};
    MusicXmlSummary summary;
    std::string xml;
    EXPECT_TRUE(WriteMusicXml(
        conversion, bytes, name, options, [&](std::string_view c) { xml.append(c); }, summary));
    return xml;
}

struct Heard {
    std::mutex Mutex;
    std::set<int> Keys;
};

TEST(OpenedSongTest, OneReadPerOpenAndEveryPartPlaysExportsAndShowsTheBytesReadThen) {
    QTemporaryDir dir;
    const QString path = dir.filePath("song.mid");
    const std::string first = Song({60, 62, 64, 65});
    const std::string second = Song({40, 41, 43, 45, 47});
    WriteFile(path, first);

    Conversion conv;
    conv.SetReporter([](const std::string& text) { ADD_FAILURE() << text; });
    DisplaySettings display;
    test::ScriptedPrompts prompts;
    TTabForm form(conv, display, prompts);
    auto* exporter = new TrackExport(conv, *form.TabScroll(), prompts, &form);
    Heard heard;
    MidiPlayback::Options options;
    options.TimeSource = MidiPlayback::Clock::Manual;
    options.SoundFonts = {"/nonexistent/none.sf2"};
    options.OnEvent = [&heard](int64_t, int status, int key, int velocity) {
        if ((status & 0xF0) != 0x90 || velocity == 0) return;
        std::lock_guard<std::mutex> lock(heard.Mutex);
        heard.Keys.insert(key);
    };
    MidiPlayback playback(options);
    TMidiPlayer player(*form.TabScroll(), conv, playback, prompts);
    ConnectExport(form, *exporter);
    ConnectPlayer(form, player);
    SongPointer announced;
    QObject::connect(&form, &TTabForm::FileOpened, [&](SongPointer song) { announced = song; });

    const uint64_t before = ByteSource::FilesOpened();
    prompts.OpenAnswer = path;
    form.OpenMidifile1Click();
    ASSERT_TRUE(announced);
    EXPECT_EQ(ByteSource::FilesOpened(), before + 1);
    EXPECT_EQ(announced->Bytes, first);
    EXPECT_EQ(announced, form.Song());

    // The file is replaced on disk, under the same name, by another song.
    WriteFile(path, second);
    const std::set<int> firstKeys{60, 62, 64, 65};

    form.TrackMenuClick(1);
    EXPECT_EQ(TrackKeys(conv), firstKeys);
    form.ReconvertMidiFile(); // as after the options dialog
    EXPECT_EQ(TrackKeys(conv), firstKeys);
    EXPECT_TRUE(form.TabScroll()->ShowsTrack());

    player.PlayMidifile1Click();
    ASSERT_TRUE(playback.IsOpen()) << playback.Error();
    playback.Play();
    for (int step = 0; step < 30 && playback.IsPlaying(); ++step)
        playback.Advance(100);
    {
        std::lock_guard<std::mutex> lock(heard.Mutex);
        EXPECT_EQ(heard.Keys, firstKeys);
    }
    player.hide();

    const QString xmlPath = dir.filePath("song.musicxml");
    ASSERT_TRUE(exporter->SaveMusicXml(xmlPath, 1)) << prompts.Messages.join("\n").toStdString();
    QFile xml(xmlPath);
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    const QByteArray written = xml.readAll();
    EXPECT_EQ(written.toStdString(), MusicXmlOf(first, path.toStdString()));
    EXPECT_NE(written.toStdString(), MusicXmlOf(second, path.toStdString()));

    // Nothing of this read the file again; opening it again reads it once more.
    EXPECT_EQ(ByteSource::FilesOpened(), before + 1);
    form.OpenMidifile1Click();
    EXPECT_EQ(ByteSource::FilesOpened(), before + 2);
    EXPECT_EQ(announced->Bytes, second);

    // A file that cannot be read opens nothing and is not announced.
    announced.reset();
    conv.SetReporter([](const std::string&) {});
    prompts.OpenAnswer = dir.path();
    form.OpenMidifile1Click();
    EXPECT_FALSE(announced);
    EXPECT_FALSE(form.Song());
    EXPECT_FALSE(playback.IsOpen());
}

} // namespace
} // namespace morvel
