// The conversion driver: resets the state, sets up the tuning, reads every track chunk into
// the song model, then writes the report (banner, file information, one 0xFA-led section per
// track, and the chord diagrams with ShowChord on).
#include "core/Conversion.h"
#include "core/ConversionState.h"
#include "io/TempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace morvel {

namespace {

constexpr int BANNER_WIDTH = 80;
constexpr const char* BANNER_TITLE = "MORVEL 3.0 - MIDI to Tabulature Conversion";
constexpr const char* REPORT_PATTERN = "MORVEXX-XXXXXX.TMP";
constexpr int REPORT_SUFFIX_LENGTH = 4; // ".TMP"

std::string TemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    std::string folder = dir;
    if (folder.back() != '/') folder.push_back('/');
    return folder;
}

// The name as the report's "Filename:" line holds it: control bytes and the separator byte
// become spaces, as they do in track texts, so the name keeps to its line and its section.
std::string ReportFileName(const std::string& name) {
    std::string text = name;
    for (char& c : text) {
        const unsigned char value = static_cast<unsigned char>(c);
        if (value < 0x20 || value == 0x7F || c == TRACK_SEPARATOR) c = ' ';
    }
    return text;
}

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return; // errors of the report stream are not checked
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
}

} // namespace

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

void Conversion::State::Flush() {
    if (Out.empty()) return;
    if (Sink)
        Sink(Out);
    else if (ReportFd >= 0)
        WriteAll(ReportFd, Out.data(), Out.size());
    Out.clear();
}

Conversion::Conversion() : state_(new State) {}

// The report file lives as long as the conversion that wrote it.
Conversion::~Conversion() {
    DeleteReportFile();
    delete state_;
}

void Conversion::SetReporter(Reporter reporter) {
    reporter_ = std::move(reporter);
}

void Conversion::ReportError(const std::string& text) {
    const std::string& shown = text.empty() ? std::string("ERROR: Invalid error string.") : text;
    if (reporter_)
        reporter_(shown);
    else
        std::cerr << shown << '\n';
}

std::string Conversion::MessageFileName() const {
    return EscapeControlBytes(MidiFileName);
}

std::string EscapeControlBytes(std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    auto hex = [](std::string& shown, unsigned char value) {
        shown += "\\x";
        shown.push_back(HEX[value >> 4]);
        shown.push_back(HEX[value & 0xF]);
    };
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char value = static_cast<unsigned char>(text[i]);
        if (value == '\n') {
            shown += "\\n";
        } else if (value == '\r') {
            shown += "\\r";
        } else if (value == '\t') {
            shown += "\\t";
        } else if (value < 0x20 || value == 0x7F) {
            hex(shown, value);
        } else if (value < 0x80) {
            shown.push_back(text[i]);
        } else if (value == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080..U+009F, the C1 controls in UTF-8: shown as the code point's byte.
            hex(shown, static_cast<unsigned char>(text[++i]));
        } else {
            // A UTF-8 sequence is kept whole; a lone byte 0x80..0x9F (a C1 control to an
            // 8-bit terminal) is escaped, other bytes are kept.
            size_t length = value >= 0xF0 ? 4 : value >= 0xE0 ? 3 : value >= 0xC2 ? 2 : 1;
            if (value > 0xF4) length = 1;
            bool whole = length > 1 && i + length <= text.size();
            for (size_t k = 1; whole && k < length; ++k)
                whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (whole && length > 2) { // no overlong forms, surrogates or values past U+10FFFF
                const unsigned char next = static_cast<unsigned char>(text[i + 1]);
                whole = !(value == 0xE0 && next < 0xA0) && !(value == 0xED && next > 0x9F) &&
                        !(value == 0xF0 && next < 0x90) && !(value == 0xF4 && next > 0x8F);
            }
            if (whole) {
                shown.append(text.substr(i, length));
                i += length - 1;
            } else if (value <= 0x9F) {
                hex(shown, value);
            } else {
                shown.push_back(text[i]);
            }
        }
    }
    return shown;
}

void Conversion::SetReportSink(ReportSink sink) {
    state_->Sink = std::move(sink);
}

void Conversion::SetColumnObserver(ColumnObserver observer) {
    state_->Observer = std::move(observer);
}

Conversion::FingeringInputs Conversion::CurrentFingeringInputs() const {
    return {StringPitch,       Header.Division,       Settings.MaxFret,
            Settings.BassMode, Settings.ForceFitFret, Settings.StringsFromChannels};
}

const TrackFingering& Conversion::OptimisedFingering(uint32_t trackIndex) {
    if (fingerings_.size() != TrackList.size()) {
        fingerings_.assign(TrackList.size(), TrackFingering());
        fingeringInputs_.assign(TrackList.size(), std::nullopt);
    }
    if (trackIndex >= TrackList.size()) {
        static const TrackFingering none;
        return none;
    }
    const FingeringInputs inputs = CurrentFingeringInputs();
    if (fingeringInputs_[trackIndex] != inputs) {
        fingerings_[trackIndex] =
            OptimiseTrackFingering(TrackList[trackIndex], StringPitch, Settings, Header.Division);
        fingeringInputs_[trackIndex] = inputs;
    }
    return fingerings_[trackIndex];
}

int Conversion::CountEmptyTracks() const {
    int count = 0;
    for (const TrackRecord& track : TrackList)
        if (track.Notes.empty()) ++count;
    return count;
}

void Conversion::ApplyTranspose() {
    for (int16_t& pitch : StringPitch)
        pitch = static_cast<int16_t>(pitch - TuningSettings.Transpose);
}

void Conversion::FreeTrackList() {
    TrackList.clear();
    TrackList.shrink_to_fit();
}

bool Conversion::OpenReportFile() {
    State& st = *state_;
    st.Out.clear();
    if (st.Sink) {
        st.ReportOpen = true;
        return true;
    }
    const std::string folder = TemporaryFolder();
    std::string path = folder + REPORT_PATTERN;
    int fd = CreateTemporaryFile(path, REPORT_SUFFIX_LENGTH, st.ReportSlot); // mode 0600
    if (fd < 0) {
        const char* why = std::strerror(errno);
        ReportError(FormatText("Can't open temporary MIDI output file. No file can be created in "
                               "the folder '%s': %s.",
                               EscapeControlBytes(folder).c_str(), why));
        return false;
    }
    st.ReportFd = fd;
    st.ReportOpen = true;
    TempFileName = path;
    return true;
}

void Conversion::CloseReportFile() {
    State& st = *state_;
    if (!st.ReportOpen) return;
    st.Flush();
    if (st.ReportFd >= 0) ::close(st.ReportFd);
    st.ReportFd = -1;
    st.ReportOpen = false;
}

void Conversion::DeleteReportFile() {
    CloseReportFile();
    if (!TempFileName.empty()) RemoveTemporaryFile(state_->ReportSlot, TempFileName);
    state_->ReportSlot = NO_TEMP_SLOT;
    TempFileName.clear();
}

void Conversion::WriteCentred(const std::string& text) {
    State& st = *state_;
    const int pad = (BANNER_WIDTH - static_cast<int>(text.size())) / 2;
    if (pad > 0) st.Put(std::string(static_cast<size_t>(pad), ' '));
    st.PutLine(text);
}

void Conversion::WriteBanner() {
    WriteCentred(BANNER_TITLE);
    WriteCentred("");
    state_->PutLine("");
    state_->PutLine("");
}

void Conversion::ConvertMidiFile() {
    bool refused = false;
    std::string why;
    state_->MidiBytes = nullptr;
    state_->MidiSize = 0;
    if (!state_->Midi.OpenFile(MidiFileName, why, refused)) {
        state_->OpenRefusal = refused ? why : std::string();
        RunConversion(false);
        return;
    }
    RunConversion(true);
}

void Conversion::ConvertUnopenedFile(const std::string& refusal) {
    state_->Midi.Close();
    state_->MidiBytes = nullptr;
    state_->MidiSize = 0;
    state_->OpenRefusal = refusal;
    RunConversion(false);
}

void Conversion::ConvertMidiBytes(std::string_view bytes, const std::string& displayName) {
    MidiFileName = displayName;
    state_->MidiBytes = reinterpret_cast<const uint8_t*>(bytes.data());
    state_->MidiSize = bytes.size();
    state_->Midi.OpenMemory(state_->MidiBytes, state_->MidiSize);
    RunConversion(true);
}

void Conversion::RunConversion(bool opened) {
    State& st = *state_;
    CloseReportFile();
    // A reconversion replaces the previous report rather than leaving it behind.
    if (!TempFileName.empty()) DeleteReportFile();

    st.AbortFlag = 0;
    Header = SongHeader{};
    st.current_ticks = 0;
    st.TrackBytesLeft = 0;
    st.PendingTicks = 0;
    CurrentFret = 0;
    st.CurrentTrack = -1;
    st.LastNoteTrack = -1;
    st.ConversionColumns = 0;
    st.ConversionCut = false;
    st.Lenient = Settings.LenientReading != 0;
    st.OpensLeniently = false;
    FreeTrackList();
    fingerings_.clear();
    fingeringInputs_.clear();

    StringPitch = BaseTuning;
    ClearUsedChords();
    for (int k = 1; k <= STRING_COUNT; ++k)
        StringPitch[STRING_COUNT - k] =
            static_cast<int16_t>(StringPitch[STRING_COUNT - k] + TuningSettings.CustomDelta[k - 1]);
    ApplyTranspose();

    if (!OpenReportFile()) { // it has said why
        st.Midi.Close();
        return;
    }

    if (!opened) {
        // A file refused for its kind gets the reason on a line of its own.
        std::string message =
            FormatText("Can't open MIDI file '%s'.%s", MessageFileName().c_str(), LINE_END);
        if (!st.OpenRefusal.empty()) message += "It " + st.OpenRefusal + ".";
        ReportError(message);
        CloseReportFile();
        // A folder or a FIFO has said what it is; no header was there to be read.
        if (st.OpenRefusal.empty()) ReportError("Can't read MIDI header.");
        return;
    }
    if (!ReadMidiHeader()) {
        CloseReportFile();
        st.OpensLeniently = !st.Lenient && ReadsLeniently();
        ReportError("Can't read MIDI header.");
        return;
    }
    if (!ReadTracks()) return;

    // The reader stops quietly at an unexpected end of the file; the user is told that the
    // tablature shown stops there.
    if (st.AbortFlag)
        ReportError(FormatText("The file '%s' ends inside track %d: its tablature stops there.",
                               MessageFileName().c_str(), static_cast<int>(TrackList.size())));

    WriteBanner();
    st.PutLine("Filename:     " + ReportFileName(MidiFileName));
    switch (Header.FormatType) {
    case 0:
        st.PutLine("Type:         Single Multi-Channel Track");
        break;
    case 1:
        st.PutLine("Type:         Multiple Simultaneous Tracks");
        break;
    case 2:
        st.PutLine("Type:         Multiple Independent Tracks");
        break;
    }
    st.PutLine(FormatText("Tracks:       %d", static_cast<int>(Header.TrackCount)));
    st.PutLine(FormatText("Empty Tracks: %d", CountEmptyTracks()));
    st.PutLine("");

    // A damaged file can announce thousands of tracks it does not hold: each keeps its
    // separator, but the missing ones are reported in one message, not one each.
    uint32_t firstMissing = 0;
    uint32_t missing = 0;
    for (uint32_t j = 0; j < Header.TrackCount; ++j) {
        st.Put(TRACK_SEPARATOR);
        if (j >= TrackList.size()) {
            if (missing++ == 0) firstMissing = j + 1;
            continue;
        }
        ConvertTrack(j);
    }
    if (missing == 1)
        ReportError(FormatText("Can't find track %d !", static_cast<int>(firstMissing)));
    else if (missing > 1)
        ReportError(FormatText("Can't find tracks %d to %d !", static_cast<int>(firstMissing),
                               static_cast<int>(firstMissing + missing - 1)));
    st.PutLine("");

    if (Settings.ShowChord) WriteChordDiagrams();

    CloseReportFile();
    st.Midi.Close();
}

bool Conversion::ReadTracks() {
    State& st = *state_;
    for (uint32_t i = 1; i <= Header.TrackCount; ++i) {
        st.PendingTicks = 0;
        if (st.AbortFlag) break;
        if (st.Lenient) {
            if (!FindTrackChunk()) {
                Header.TrackCount = i - 1; // the song is the tracks the file holds
                break;
            }
        } else if (!ReadTrackHeader()) {
            RefuseTracks("Can't read MIDI track.");
            return false;
        }
        StartTrack();
        ReserveNotes();
        st.RunningStatus = 0;
        // Controller events before a track's first note belong to that track, not to the last
        // note of the previous one.
        st.LastNoteTrack = -1;
        while (st.TrackBytesLeft > 0 && !st.AbortFlag) {
            if (st.Lenient) {
                if (ReadLenientEvent() == 0) // end of track: the rest of the chunk is passed over
                    SkipTrackBytes(static_cast<uint32_t>(st.TrackBytesLeft));
                continue;
            }
            if (ReadEvent() == 0 && st.TrackBytesLeft != 0) {
                RefuseTracks(FormatText("Premature end of track: %ld bytes to go.",
                                        static_cast<long>(st.TrackBytesLeft)));
                return false;
            }
        }
    }
    return true;
}

void Conversion::RefuseTracks(const std::string& message) {
    State& st = *state_;
    CloseReportFile();
    st.Midi.Close();
    st.OpensLeniently = !st.Lenient && ReadsLeniently();
    ReportError(message);
}

bool Conversion::ReadsLeniently() const {
    Conversion probe;
    probe.MidiFileName = MidiFileName;
    bool quiet = true;
    probe.SetReporter([&quiet](const std::string&) { quiet = false; });
    State& reader = *probe.state_;
    reader.Lenient = true;
    if (state_->MidiBytes) {
        reader.Midi.OpenMemory(state_->MidiBytes, state_->MidiSize);
    } else {
        std::string why;
        bool refused = false;
        if (!reader.Midi.OpenFile(MidiFileName, why, refused)) return false;
    }
    const bool read = probe.ReadMidiHeader() && probe.ReadTracks();
    reader.Midi.Close();
    return read && quiet;
}

bool Conversion::OpensWithLenientReading() const {
    return state_->OpensLeniently;
}

uint32_t TrackMeasureCount(const TrackRecord& track, uint32_t division) {
    const uint32_t ticks = MeasureTicks(division, track);
    if (ticks == 0) return 1;
    return track.EndTime / ticks + 1;
}

std::string ExtractReportText(std::string_view report, int section) {
    if (section < 0) {
        std::string text;
        text.reserve(report.size());
        for (char c : report)
            if (c != TRACK_SEPARATOR) text.push_back(c);
        return text;
    }
    size_t pos = 0;
    for (int k = 0; k < section; ++k) {
        pos = report.find(TRACK_SEPARATOR, pos);
        if (pos == std::string_view::npos) return {};
        ++pos;
    }
    size_t end = report.find(TRACK_SEPARATOR, pos);
    return std::string(report.substr(pos, end == std::string_view::npos ? end : end - pos));
}

} // namespace morvel
