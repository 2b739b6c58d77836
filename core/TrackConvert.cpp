// Track conversion: turns a track's notes into lines of 26 columns. Every new onset starts a
// column, notes with a delta time of 0 join it, a bar goes in wherever a measure boundary is
// crossed, and the track is framed by its start and end markers.
#include "core/Conversion.h"
#include "core/ConversionState.h"

namespace morvel {

void Conversion::ClearTabLine() {
    State& st = *state_;
    for (TabColumn& column : st.TabLine)
        column.Clear();
    st.ColumnCount = 0;
    CurrentFret = 0;
}

void Conversion::FlushTabLine() {
    State& st = *state_;
    WriteTabLine();
    if (st.Observer)
        for (int c = 0; c < st.ColumnCount; ++c)
            st.Observer(st.TrackIndex, st.TabLine[c]);
    st.TrackColumns += st.ColumnCount;
    st.ConversionColumns += st.ColumnCount;
    ClearTabLine();
    // Another full line would pass the bound: the track stops at this line.
    if (st.TrackColumns + COLUMNS_PER_LINE > MaxTrackColumns ||
        st.ConversionColumns + COLUMNS_PER_LINE > MaxConversionColumns)
        st.BoundReached = true;
}

void Conversion::AdvanceColumn() {
    State& st = *state_;
    ++st.ColumnCount;
    if (st.ColumnCount == COLUMNS_PER_LINE) FlushTabLine();
}

void Conversion::CutTrack(int trackNumber) {
    State& st = *state_;
    if (st.TabLine[st.ColumnCount].Label != LABEL_EMPTY) ++st.ColumnCount;
    if (st.ColumnCount > 0) FlushTabLine();
    st.TrackCut = true;
    if (st.ConversionColumns + COLUMNS_PER_LINE > MaxConversionColumns) {
        ReportConversionCut(trackNumber);
        return;
    }
    ReportError(FormatText("Track %d is too long to write out: its tablature stops after %llu "
                           "columns.",
                           trackNumber, static_cast<unsigned long long>(st.TrackColumns)));
}

void Conversion::ReportConversionCut(int trackNumber) {
    State& st = *state_;
    if (st.ConversionCut) return;
    st.ConversionCut = true;
    ReportError(FormatText("The tablature of '%s' is too long to write out: it stops in track %d "
                           "after %llu columns.",
                           MidiFileName.c_str(), trackNumber,
                           static_cast<unsigned long long>(st.ConversionColumns)));
}

void Conversion::AddNoteEvent(uint8_t note, int channel, char special, uint32_t deltaTime,
                              int32_t numerator, int32_t denominator, int trackNumber,
                              size_t noteIndex) {
    State& st = *state_;
    const uint32_t measureTicks = MeasureTicks(Header.Division, numerator, denominator);
    uint32_t pending = deltaTime;

    // Without a measure length the track is one measure: no bars.
    while (measureTicks != 0 && st.current_ticks + pending >= measureTicks) {
        if (st.BoundReached) {
            CutTrack(trackNumber);
            return;
        }
        if (st.TabLine[st.ColumnCount].Label != LABEL_EMPTY) AdvanceColumn();
        PlaceMarker(st.TabLine[st.ColumnCount], LABEL_BAR);
        ++st.ColumnCount;
        if (st.ColumnCount == COLUMNS_PER_LINE) {
            FlushTabLine();
            PlaceMarker(st.TabLine[0], LABEL_BAR);
            st.ColumnCount = 1;
            st.LineBrokeInBar = true;
        }
        st.current_ticks = st.current_ticks + pending - measureTicks;
        pending = 0;
    }
    st.current_ticks += pending;

    if (deltaTime > 0 && st.TabLine[st.ColumnCount].Label != LABEL_EMPTY) AdvanceColumn();
    TabColumn& column = st.TabLine[st.ColumnCount];
    if (Settings.OptimiseFingering)
        OptimisedFingering(st.TrackIndex)
            .PlaceNote(column, noteIndex, special, static_cast<uint8_t>(channel));
    else
        PlaceNote(column, note, special, static_cast<uint8_t>(channel));
}

void Conversion::ConvertTrack(uint32_t trackIndex) {
    State& st = *state_;
    const int trackNumber = static_cast<int>(trackIndex + 1);
    if (trackIndex >= TrackList.size()) {
        ReportError(FormatText("Can't find track %d !", trackNumber));
        return;
    }
    const TrackRecord& track = TrackList[trackIndex];
    if (track.Notes.empty()) return;

    if (st.ConversionColumns + COLUMNS_PER_LINE > MaxConversionColumns) {
        ReportConversionCut(trackNumber);
        return;
    }
    WriteTrackHeading(trackNumber, track);
    st.TrackIndex = trackIndex;
    ClearTabLine();
    st.current_ticks = 0;
    st.TrackColumns = 0;
    st.TrackCut = false;
    st.BoundReached = false;
    PlaceMarker(st.TabLine[0], LABEL_TRACK_START);
    st.ColumnCount = 1;

    for (size_t i = 0; i < track.Notes.size(); ++i) {
        if (st.BoundReached) {
            CutTrack(trackNumber);
            break;
        }
        const NoteRecord& note = track.Notes[i];
        AddNoteEvent(static_cast<uint8_t>(note.Note), note.Channel, note.Special, note.DeltaTime,
                     track.TimeSigNumerator, track.TimeSigDenominator, trackNumber, i);
        if (st.TrackCut) break;
    }
    if (st.TrackCut) return;

    AdvanceColumn();
    PlaceMarker(st.TabLine[st.ColumnCount], LABEL_TRACK_END);
    ++st.ColumnCount;
    FlushTabLine();
}

} // namespace morvel
