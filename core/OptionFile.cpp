#include "core/OptionFile.h"

#include <algorithm>
#include <cstring>

namespace morvel {

namespace {

constexpr char FORMAT_TAG[4] = {'3', '.', '0', '\0'};

void PutInt32(OptionFileRecord& record, size_t offset, int32_t value) {
    uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        record[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
}

uint32_t GetUInt32(const OptionFileRecord& record, size_t offset) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<uint32_t>(record[offset + i]) << (8 * i);
    return bits;
}

int32_t GetInt32(const OptionFileRecord& record, size_t offset) {
    return static_cast<int32_t>(GetUInt32(record, offset));
}

int16_t GetInt16(const OptionFileRecord& record, size_t offset) {
    return static_cast<int16_t>(static_cast<uint16_t>(GetUInt32(record, offset)));
}

} // namespace

OptionFileRecord EncodeOptionRecord(const StoredSettings& in) {
    OptionFileRecord record{};
    using namespace OptionOffset;
    PutInt32(record, PrintMeasPerWidth, in.Conv.PrintMeasPerWidth);
    PutInt32(record, PrintMeasPerHeight, in.Conv.PrintMeasPerHeight);
    PutInt32(record, Transpose, in.TuningSettings.Transpose);
    PutInt32(record, MeasuresPerPage, in.Display.MeasuresPerPage);
    for (size_t k = 0; k < STRING_COUNT; ++k)
        PutInt32(record, CustomDelta + 4 * k, in.TuningSettings.CustomDelta[k]);
    PutInt32(record, ShowSpecial, in.Conv.ShowSpecial);
    PutInt32(record, ShowChord, in.Conv.ShowChord);
    PutInt32(record, ShowMetronome, in.Conv.ShowMetronome);
    PutInt32(record, ForceFitFret, in.Conv.ForceFitFret);
    size_t nameLength = std::min(in.Display.TuningName.size(), TuningNameSize - 1);
    std::memcpy(record.data() + TuningName, in.Display.TuningName.data(), nameLength);
    PutInt32(record, MaxFret, in.Conv.MaxFret);
    PutInt32(record, BassMode, in.Conv.BassMode);
    PutInt32(record, FollowMusic, in.Conv.FollowMusic);
    std::memcpy(record.data() + Tag, FORMAT_TAG, sizeof FORMAT_TAG);
    return record;
}

void DecodeOptionRecord(std::span<const uint8_t> bytes, StoredSettings& out) {
    OptionFileRecord record{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    using namespace OptionOffset;
    out.Conv.PrintMeasPerWidth = GetInt16(record, PrintMeasPerWidth);
    out.Conv.PrintMeasPerHeight = GetInt16(record, PrintMeasPerHeight);
    out.TuningSettings.Transpose =
        static_cast<int8_t>(static_cast<uint8_t>(GetUInt32(record, Transpose)));
    out.Display.MeasuresPerPage = GetInt16(record, MeasuresPerPage);
    for (size_t k = 0; k < STRING_COUNT; ++k)
        out.TuningSettings.CustomDelta[k] = GetInt16(record, CustomDelta + 4 * k);
    out.Conv.ShowSpecial = GetInt32(record, ShowSpecial);
    out.Conv.ShowChord = GetInt32(record, ShowChord);
    out.Conv.ShowMetronome = GetInt32(record, ShowMetronome);
    out.Conv.ForceFitFret = GetInt32(record, ForceFitFret);
    const char* name = reinterpret_cast<const char*>(record.data() + TuningName);
    out.Display.TuningName.assign(name, strnlen(name, TuningNameSize - 1));
    out.Conv.MaxFret = GetInt32(record, MaxFret);
    out.Conv.BassMode = GetInt32(record, BassMode);
    out.Conv.FollowMusic = GetInt32(record, FollowMusic);
    ClampStoredSettings(out);
}

} // namespace morvel
