#include "cli/Options.h"

#include "core/Tunings.h"

#include <charconv>
#include <span>
#include <string_view>

namespace morvel::cli {

namespace {


struct Parser {
    int argc;
    const char* const* argv;
    int index = 1;
    Options& options;
    std::string& error;

    bool Fail(std::string text) {
        error = std::move(text);
        return false;
    }

    // The value of `flag`: the text after '=' when given inline, else the next argument.
    bool TakeValue(std::string_view flag, const std::optional<std::string_view>& inlineValue,
                   std::string_view& value) {
        if (inlineValue) {
            value = *inlineValue;
            return true;
        }
        if (index + 1 >= argc) return Fail(std::string(flag) + " needs a value");
        value = argv[++index];
        return true;
    }

    bool TakeInt(std::string_view flag, const std::optional<std::string_view>& inlineValue, int low,
                 int high, int& value) {
        std::string_view text;
        if (!TakeValue(flag, inlineValue, text)) return false;
        if (!ParseInt(text, value))
            return Fail(std::string(flag) + ": '" + std::string(text) + "' is not a whole number");
        if (value < low || value > high)
            return Fail(std::string(flag) + ": " + std::to_string(value) + " is out of range " +
                        std::to_string(low) + ".." + std::to_string(high));
        return true;
    }

    bool NoInlineValue(std::string_view flag, const std::optional<std::string_view>& inlineValue) {
        if (inlineValue) return Fail(std::string(flag) + " takes no value");
        return true;
    }

    bool One() {
        std::string_view arg(argv[index]);
        if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
            options.Inputs.emplace_back(arg);
            return true;
        }
        std::string_view flag = arg;
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            size_t eq = arg.find('=');
            if (eq != std::string_view::npos) {
                flag = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2 && (arg[1] == 'o' || arg[1] == 'j')) {
            flag = arg.substr(0, 2); // -oFILE, -j4
            inlineValue = arg.substr(2);
        }
        int number = 0;
        std::string_view text;

        if (flag == "-h" || flag == "--help") {
            options.Help = true;
            return NoInlineValue(flag, inlineValue);
        }
        if (flag == "--version") {
            options.Version = true;
            return NoInlineValue(flag, inlineValue);
        }
        if (flag == "--metrics") {
            options.Metrics = true;
            return NoInlineValue(flag, inlineValue);
        }
        if (const ScoreFormat* format = FindScoreFormat(flag)) {
            if (options.Format != nullptr && options.Format != format)
                return Fail(std::string(options.Format->Flag) + " and " + format->Flag +
                            " cannot be used together");
            options.Format = format;
            return NoInlineValue(flag, inlineValue);
        }
        if (flag == "--layout") {
            if (!TakeValue(flag, inlineValue, text)) return false;
            if (text != "text" && text != "standard")
                return Fail("--layout: '" + std::string(text) + "' is not text or standard");
            options.StandardLayout = text == "standard";
            return true;
        }
        if (flag == "--notes") {
            options.Notes = true;
            return NoInlineValue(flag, inlineValue);
        }
        if (flag == "--report") {
            options.Mode = OutputMode::Report;
            return NoInlineValue(flag, inlineValue);
        }
        if (flag == "--track") {
            if (!TakeInt(flag, inlineValue, 1, MAX_TRACK_NUMBER, number)) return false;
            options.Mode = OutputMode::Track;
            options.Track = number;
            return true;
        }
        if (flag == "-o" || flag == "--output") {
            if (!TakeValue(flag, inlineValue, text)) return false;
            if (text.empty()) return Fail(std::string(flag) + " needs a file name");
            options.OutputFile = text;
            return true;
        }
        if (flag == "--out-dir") {
            if (!TakeValue(flag, inlineValue, text)) return false;
            if (text.empty()) return Fail("--out-dir needs a folder name");
            options.OutDir = text;
            return true;
        }
        if (flag == "-j" || flag == "--jobs") {
            if (!TakeInt(flag, inlineValue, 1, MAX_JOBS, number)) return false;
            options.Jobs = static_cast<unsigned>(number);
            return true;
        }
        if (flag == "--ini") {
            if (!TakeValue(flag, inlineValue, text)) return false;
            options.IniFile = text;
            return true;
        }
        if (flag == "--options") {
            if (!TakeValue(flag, inlineValue, text)) return false;
            options.OptionFile = text;
            return true;
        }
        if (flag == "--tuning") {
            if (!TakeValue(flag, inlineValue, text)) return false;
            std::optional<TuningPreset> preset = FindTuningPreset(text);
            if (!preset) {
                std::string names;
                for (const TuningPreset& known : TuningPresets)
                    names += std::string(names.empty() ? "" : ", ") + "\"" + known.Name + "\"";
                return Fail("--tuning: unknown tuning \"" + std::string(text) +
                            "\" (known: " + names + ")");
            }
            options.TuningDelta = preset->Delta;
            return true;
        }
        // The settings of the table that have a flag: "--name N" for a number within the
        // dialog's range, "--name" and "--no-name" for a switch.
        const std::span<const SettingRow> rows = SettingRows();
        for (size_t i = 0; i < rows.size(); ++i) {
            const SettingRow& row = rows[i];
            if (!row.Flag || !flag.starts_with("--")) continue;
            const std::string_view name = row.Flag;
            if (row.Kind == SettingKind::Number && flag.substr(2) == name) {
                if (!TakeInt(flag, inlineValue, row.Min, row.Max, number)) return false;
                options.SettingFlags[i] = number;
                return true;
            }
            if (row.Kind == SettingKind::Switch) {
                const bool on = flag.substr(2) == name;
                const bool off = flag.starts_with("--no-") && flag.substr(5) == name;
                if (on || off) {
                    options.SettingFlags[i] = on ? 1 : 0;
                    return NoInlineValue(flag, inlineValue);
                }
            }
        }
        return Fail("unknown option " + std::string(flag));
    }
};

} // namespace

bool ParseInt(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

bool ParseArguments(int argc, const char* const* argv, Options& options, std::string& error) {
    Parser parser{argc, argv, 1, options, error};
    bool onlyFiles = false;
    for (; parser.index < argc; ++parser.index) {
        std::string_view arg(argv[parser.index]);
        if (onlyFiles) {
            options.Inputs.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        if (!parser.One()) return false;
    }
    if (options.Help || options.Version) return true;
    if (options.Inputs.empty()) return parser.Fail("no MIDI file given");
    if (!options.OutputFile.empty() && !options.OutDir.empty())
        return parser.Fail("-o and --out-dir cannot be used together");
    if (options.Inputs.size() > 1 && options.OutDir.empty())
        return parser.Fail("several MIDI files need --out-dir");
    if (options.Metrics && (!options.OutDir.empty() || options.Mode != OutputMode::AllText))
        return parser.Fail("--metrics cannot be used with --out-dir, --track or --report");
    if (options.Format && (options.Metrics || options.Mode == OutputMode::Report))
        return parser.Fail(std::string(options.Format->Flag) +
                           " cannot be used with --metrics or --report");
    if (options.Notes && (options.Format || options.Metrics || options.Mode == OutputMode::Report))
        return parser.Fail("--notes cannot be used with --musicxml, --gp5, --metrics or --report");
    if (options.StandardLayout && (options.Format || options.Notes || options.Metrics ||
                                   options.Mode == OutputMode::Report))
        return parser.Fail("--layout standard cannot be used with --musicxml, --gp5, --notes, "
                           "--metrics or --report");
    return true;
}

void ApplyFlags(const Options& options, ConversionSettings& settings, Tuning& tuning) {
    if (options.TuningDelta) tuning.CustomDelta = *options.TuningDelta;
    DisplaySettings unused; // no flag sets a display setting
    const SettingHomes homes{&settings, &tuning, &unused};
    const std::span<const SettingRow> rows = SettingRows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (options.SettingFlags[i]) rows[i].Number.Set(homes, *options.SettingFlags[i]);
}

std::string UsageText() {
    auto Range = [](int low, int high) {
        return std::to_string(low) + ".." + std::to_string(high);
    };
    return R"(Usage: morvel-convert [OPTIONS] FILE.mid
       morvel-convert [OPTIONS] --out-dir DIR FILE.mid...

Converts Standard MIDI Files into guitar or bass tablature text.

What is written (default: the whole text output, every line ending in CR LF):
  --track N          only track N's section (N from 1), as "Save Track Text" writes it
  --report           the raw report, the 0xFA byte before each track's section included
  -o, --output FILE  write to FILE instead of standard output; FILE is replaced only when
                     the conversion succeeds, and never when it is one of the inputs
  --out-dir DIR      convert every FILE.mid given into DIR/FILE.txt (DIR is created if
                     needed), in parallel, then print one summary line per input in the
                     order given and a total line: files, failures, notes, seconds
  --musicxml         MusicXML 4.0 instead of text: one part per track with notes (tracks
                     all on channel 10 left out, said on standard error), or only --track
                     N; a notation staff and a TAB staff with the strings and frets of the
                     text, rhythm on a grid chosen per beat; --out-dir writes
                     DIR/FILE.musicxml. A summary goes to standard error: notes written,
                     notes without string and fret, largest quantisation shift in ticks
  --gp5              Guitar Pro 5 (.gp5) instead of text, from the same score as --musicxml
                     and with the same choice of tracks: six strings tuned as the working
                     tuning sounds, every note on the string and fret of the text; --out-dir
                     writes DIR/FILE.gp5. A note without string and fret is left out and
                     counted in the summary on standard error
  --layout NAME      "text" (the default) or "standard": standard ASCII tab instead of the
                     text, one line per string labelled at the left, bars between "|", as
                     many bars to a system as fit in --width columns, chord names above,
                     notes without string and fret listed under their system; every track
                     with notes (tracks all on channel 10 left out) or only --track N;
                     --out-dir writes DIR/FILE.tab.txt
  --width N          columns of a line of standard tab ()" +
           Range(STANDARD_TAB_MIN_WIDTH, STANDARD_TAB_MAX_WIDTH) + R"(, default )" +
           std::to_string(STANDARD_TAB_WIDTH) + R"()
  --notes            instead of the text, one tab-separated line per note of every track
                     (or only --track N) under a header line: track, onset tick, duration
                     in ticks, note number as read, string (1 = the highest) and fret as
                     the text shows them, both empty for a note shown as "?"; --out-dir
                     writes DIR/FILE.tsv
  -j, --jobs N       worker threads for --out-dir (default: one per core)
  --metrics          instead of the tablature, one line of playability figures per track
                     and a total, read from the columns the text would show: notes, frets
                     shown, "?" columns, chord columns and those spanning more than 4 frets,
                     mean hand shift, shifts of more than 4 frets, share of frets above 12;
                     a track written an octave low also gets a hint on the transposition

Settings (read in this order: --ini, then --options, then the flags below):
  --ini FILE         read section "PARAMS" of an INI file as the program does
  --options FILE     read an option file (.opt) as the program does
  --transpose T      transpose by T semitones ()" +
           Range(TRANSPOSE_MIN, TRANSPOSE_MAX) + R"()
  --tuning NAME      "Standard", "Drop D", "Open E", "Open D", "Open G", "A", "G Minor" or
                     "Custom"; sets the six string offsets, then --deltaN changes single ones
  --delta1 N ... --delta6 N
                     semitone offset of one string ()" +
           Range(DELTA_MIN, DELTA_MAX) + R"(); --delta1 is the sixth
                     (lowest) string, --delta6 the first
  --max-fret N       highest fret used ()" +
           Range(MAX_FRET_MIN, MAX_FRET_MAX) + R"()
  --force-fit        fit notes beyond the highest fret onto the neck
  --bass             bass mode
  --show-chords      name chords and add the chord diagrams
  --show-special     show special parameters
  --optimise-fingering
                     choose strings and frets by a search over each whole track
  --strings-from-channels
                     with --optimise-fingering: a track written one MIDI channel per
                     string (4 to 6 channels, channel N = string N from either end,
                     counted from 0 or 1) keeps the strings its channels name
  --lenient          read the file by the Standard MIDI File rules where the program's
                     own reader is stricter: meta lengths as variable-length quantities,
                     running status across meta and system-exclusive events, unknown
                     chunks and meta types passed over, a missing end-of-track, fewer
                     tracks than announced and a track running past the end of the file
                     tolerated; a file that follows the standard gives the same text either
                     way
  --no-force-fit, --no-bass, --no-show-chords, --no-show-special, --no-optimise-fingering,
  --no-strings-from-channels, --no-lenient
                     turn a switch off that a settings file turned on
  -h, --help         show this text
  --version          show the program's version

Messages: every conversion error goes to standard error as "FILE: text", control
characters in names shown escaped (\n, \xHH). A file refused that --lenient reads gets
the line "FILE: This file opens with --lenient." after its messages.
Exit status: 0 when every file converted, 1 when any conversion reported an error or an
output could not be written, 2 on a usage error (unknown option, bad value).
)";
}

} // namespace morvel::cli
