// The option file: one 768-byte little-endian record holding the conversion and layout
// settings (no colours, no MIDI directory).
#pragma once

#include "core/SettingsFiles.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace morvel {

constexpr size_t OPTION_RECORD_SIZE = 768;
using OptionFileRecord = std::array<uint8_t, OPTION_RECORD_SIZE>;

// Byte offsets of some of the record's fields, as the settings table gives them.
namespace OptionOffset {
constexpr size_t Tag = 0; // "3.0" and a NUL byte
constexpr size_t PrintMeasPerWidth = Setting("PRINTMEASPERWIDTH").OptionOffset;
constexpr size_t PrintMeasPerHeight = Setting("PRINTMEASPERHEIGHT").OptionOffset;
constexpr size_t Transpose = Setting("TRANSPOSE").OptionOffset;
constexpr size_t MeasuresPerPage = Setting("MEASPERPAGE").OptionOffset;
constexpr size_t CustomDelta = Setting("CUSTOMDELTA1").OptionOffset; // six, sixth string first
constexpr size_t TuningName = Setting("TUNING").OptionOffset;        // NUL-terminated
constexpr size_t TuningNameSize = Setting("TUNING").TextLimit + 1;
} // namespace OptionOffset

// The record for `in`: every setting of the table with a field in the record, narrow values
// widened with their sign, texts cut to their limit; every other byte zero.
OptionFileRecord EncodeOptionRecord(const StoredSettings& in);

// Stores the fields of `bytes` into `out`; bytes past the end of a short record read as zero,
// bytes past 768 are ignored. 16-bit homes keep the low 16 bits, the transposition the low 8;
// the result is then clamped like the INI file's values. A text without a NUL byte in its
// field is read up to its limit (199 characters for the tuning name). Settings without a
// field (colours, the MIDI directory) are left alone.
void DecodeOptionRecord(std::span<const uint8_t> bytes, StoredSettings& out);

} // namespace morvel
