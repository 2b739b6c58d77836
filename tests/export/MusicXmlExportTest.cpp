// MusicXML through the window's "Save MusicXML", and over the shared corpus: every output is
// well-formed XML, and its strings and frets are those of the text tablature.
#include "formats/MusicXml.h"
#include "formats/OpenedSong.h"
#include "tests/export/ExportFixture.h"

#include <QXmlStreamReader>

#include <filesystem>
#include <map>

namespace morvel::exporttest {
namespace {

// Strings and frets of the notes that start in the TAB staff (not tie continuations), counted.
std::map<std::pair<int, int>, int> TabPositions(const std::string& xml, QString& error) {
    std::map<std::pair<int, int>, int> positions;
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    int string = 0, fret = -1;
    bool tab = false, continued = false;
    while (!reader.atEnd()) {
        reader.readNext();
        const auto name = reader.name();
        if (reader.isStartElement()) {
            if (name == u"note") {
                string = 0;
                fret = -1;
                tab = continued = false;
            } else if (name == u"staff") {
                tab = reader.readElementText() == "2";
            } else if (name == u"tie" && reader.attributes().value("type") == u"stop") {
                continued = true;
            } else if (name == u"string") {
                string = reader.readElementText().toInt();
            } else if (name == u"fret") {
                fret = reader.readElementText().toInt();
            }
        } else if (reader.isEndElement() && name == u"note" && tab && !continued && string > 0) {
            ++positions[{string, fret}];
        }
    }
    if (reader.hasError())
        error = QString("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
    return positions;
}

std::string WriteXml(Conversion& conversion, const std::string& path,
                     MusicXmlSummary& summary) {
    std::string xml, bytes;
    if (ReadSongForConversion(conversion, path, bytes))
        WriteMusicXml(conversion, bytes, path, {}, [&](std::string_view c) { xml.append(c); },
                      summary);
    return xml;
}

TEST_F(ExportTest, SaveMusicXmlWritesTheShownTrack) {
    auto named = [](const std::string& name, const Track& notes) {
        Track track;
        track.Name(name).bytes.insert(track.bytes.end(), notes.bytes.begin(), notes.bytes.end());
        return track;
    };
    Show(Song({named("One", Measures(1)), named("Two", Measures(2))}), 2);
    saveAnswer = Out("two.musicxml");
    exporter->SaveMusicXML1Click();
    EXPECT_EQ(saveFilters, QStringList{"MusicXML (*.musicxml)"});
    QFile file(saveAnswer);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string xml = file.readAll().toStdString();
    EXPECT_NE(xml.find("<part-name>Two</part-name>"), std::string::npos);
    EXPECT_EQ(xml.find("<part-name>One</part-name>"), std::string::npos);
    QString error;
    EXPECT_EQ(TabPositions(xml, error).size(), 4u) << error.toStdString(); // C4 .. D#4
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(shown.isEmpty()); // nothing lost: nothing to say

    // A folder that does not exist: said, nothing written.
    saveAnswer = Out("no-such-folder/x.musicxml");
    exporter->SaveMusicXML1Click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].startsWith("Can't write MusicXML file ")) << shown[0].toStdString();
}

#ifdef MORVEL_MIDI_CORPUS
TEST(MusicXmlCorpusTest, EveryOutputIsWellFormedWithTheTextTabsStringsAndFrets) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(MORVEL_MIDI_CORPUS)) GTEST_SKIP() << "no corpus";
    int written = 0;
    for (const auto& entry : fs::directory_iterator(MORVEL_MIDI_CORPUS)) {
        if (entry.path().extension() != ".mid") continue;
        Conversion conversion;
        conversion.SetReporter([](const std::string&) {});
        MusicXmlSummary summary;
        const std::string xml = WriteXml(conversion, entry.path().string(), summary);
        if (xml.empty()) continue;
        ++written;
        QString error;
        TabPositions(xml, error);
        EXPECT_TRUE(error.isEmpty()) << entry.path() << ": " << error.toStdString();
    }
    EXPECT_GT(written, 20);

    // A classical piece with the optimised fingering: the TAB staff holds exactly the frets
    // the text tablature shows (a note shown once per column; this file has no column whose
    // pitch repeats within a chord).
    const fs::path piece = fs::path(MORVEL_MIDI_CORPUS) / "cgm-sanz_canarios.mid";
    if (!fs::exists(piece)) GTEST_SKIP() << "no " << piece;
    Conversion conversion;
    conversion.Settings.OptimiseFingering = 1;
    conversion.TuningSettings.Transpose = 12;
    std::map<std::pair<int, int>, int> shownByText;
    conversion.SetColumnObserver([&](uint32_t, const TabColumn& column) {
        if (column.Label != LABEL_NOTES) return;
        for (int s = 0; s < STRING_COUNT; ++s)
            if (column.Fret[s] != NO_FRET) ++shownByText[{s + 1, column.Fret[s]}];
    });
    conversion.SetReportSink([](std::string_view) {});
    conversion.MidiFileName = piece.string();
    conversion.ConvertMidiFile();
    ASSERT_FALSE(shownByText.empty());

    Conversion xmlConversion;
    xmlConversion.Settings = conversion.Settings;
    xmlConversion.TuningSettings = conversion.TuningSettings;
    MusicXmlSummary summary;
    QString error;
    EXPECT_EQ(TabPositions(WriteXml(xmlConversion, piece.string(), summary), error),
              shownByText);
    EXPECT_EQ(summary.NotesWithoutPosition, 0u);
}
#endif

} // namespace
} // namespace morvel::exporttest
