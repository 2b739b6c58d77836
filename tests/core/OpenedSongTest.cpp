// Reading a song: what is refused before it is read, what the conversion says then, and a
// song that agrees with a conversion of the file itself.
#include "formats/OpenedSong.h"
#include "tests/support/MidiBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace morvel {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path Path = fs::temp_directory_path() / ("morvel-song-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(Path); }
    ~TempDir() { fs::remove_all(Path); }
};

// A file of `size` bytes beginning with `start`, the rest a hole of zeros (no disk used).
void SparseFile(const fs::path& path, const std::string& start, uintmax_t size) {
    { std::ofstream(path, std::ios::binary) << start; }
    fs::resize_file(path, size);
}

TEST(OpenedSongTest, FilesAreRefusedBeforeTheyAreReadAndTheConversionSaysWhy) {
    TempDir dir;
    std::string bytes, why;
    bool refused = false;

    // A gigabyte of zeros: its header is read, and nothing more.
    const fs::path zeros = dir.Path / "zeros.mid";
    SparseFile(zeros, "", uintmax_t(1) << 30);
    ASSERT_TRUE(ReadSongBytes(zeros.string(), bytes, why, refused));
    EXPECT_EQ(bytes, std::string(14, '\0'));

    // A MIDI header before more than the bound is refused for its size.
    const fs::path large = dir.Path / "large.mid";
    const std::string header = test::MidiBuilder(0, 96).Bytes();
    SparseFile(large, header, MAX_SONG_BYTES + 1);
    EXPECT_FALSE(ReadSongBytes(large.string(), bytes, why, refused));
    EXPECT_TRUE(refused);
    EXPECT_EQ(why, "is larger than 256 MiB");
    EXPECT_TRUE(bytes.empty());

    // The conversion reports every refusal in its own words and has no song.
    std::vector<std::string> messages;
    Conversion conversion;
    conversion.SetReportSink([](std::string_view) {});
    conversion.SetReporter([&](const std::string& text) { messages.push_back(text); });
    const fs::path fifo = dir.Path / "fifo.mid";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        fs::path Path;
        std::string Second; // the line after "Can't open MIDI file '...'."
    } cases[] = {{large, "It is larger than 256 MiB."},
                 {fifo, "It is not a regular file."},
                 {dir.Path, "It is a directory."},
                 {dir.Path / "missing.mid", ""}};
    for (const auto& c : cases) {
        messages.clear();
        EXPECT_EQ(OpenSong(conversion, c.Path.string()), nullptr);
        ASSERT_FALSE(messages.empty()) << c.Path;
        EXPECT_EQ(messages[0], "Can't open MIDI file '" + c.Path.string() + "'.\r\n" + c.Second);
        EXPECT_TRUE(conversion.TrackList.empty());
    }
    messages.clear();
    const SongPointer song = OpenSong(conversion, zeros.string());
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(messages, (std::vector<std::string>{"Unknown header '00 00 00 00'.  Not MIDI!",
                                                  "Can't read MIDI header."}));
}

TEST(OpenedSongTest, TheSongHoldsWhatAConversionOfTheFileReads) {
    TempDir dir;
    test::TrackBuilder track;
    track.Meta(0, 0x03, "Lead").Tempo().Note(0, 64, 96).Note(0, 67, 96).End();
    const std::string bytes = test::MidiBuilder(0, 96).Add(track).Bytes();
    const fs::path path = dir.Path / "song.mid";
    { std::ofstream(path, std::ios::binary) << bytes; }

    std::string fromFile, fromSong;
    Conversion byFile;
    byFile.SetReportSink([&](std::string_view chunk) { fromFile.append(chunk); });
    byFile.MidiFileName = path.string();
    byFile.ConvertMidiFile();
    Conversion bySong;
    bySong.SetReportSink([&](std::string_view chunk) { fromSong.append(chunk); });
    const SongPointer song = OpenSong(bySong, path.string());
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(fromSong, fromFile);
    EXPECT_EQ(song->Path, path.string());
    EXPECT_EQ(song->Bytes, bytes);
    ASSERT_EQ(song->TrackList.size(), 1u);
    EXPECT_EQ(song->TrackList[0].TrackName, "Lead");
    EXPECT_EQ(song->TrackList[0].Notes.size(), 2u);
    EXPECT_EQ(song->Header.Division, 96u);
    ASSERT_TRUE(song->Timeline.Valid);
    EXPECT_EQ(song->Timeline.Tracks[0].Notes.size(), 2u);

    // Reconverting under other settings reads the song, not the file.
    fs::remove(path);
    fromSong.clear();
    bySong.TuningSettings.Transpose = 2;
    ConvertSong(bySong, *song);
    EXPECT_NE(fromSong.find("Filename:"), std::string::npos);
    EXPECT_EQ(bySong.TrackList.size(), 1u);
}

} // namespace
} // namespace morvel
