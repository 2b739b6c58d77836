#include "cli-export/ExportOptions.h"
#include "export/PageSetup.h"
#include "tests/export/ExportFixture.h"

#include <QProcess>

#include <cctype>

namespace morvel::exporttest {
namespace {

using cliexport::ExportOptions;
using cliexport::ParseExportArguments;

bool Parse(std::vector<const char*> args, ExportOptions& options, std::string& error) {
    args.insert(args.begin(), "morvel-export");
    options = ExportOptions();
    error.clear();
    return ParseExportArguments(static_cast<int>(args.size()), args.data(), options, error);
}

// True when `text` names `flag` as a whole word, or names it through "--[no-]" or, for the
// string offsets, through "--delta1 N ... --delta6 N".
bool Lists(const std::string& text, const std::string& flag) {
    auto word = [&](const std::string& name) {
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
            const char before = at ? text[at - 1] : ' ';
            const char after = at + name.size() < text.size() ? text[at + name.size()] : ' ';
            if (!std::isalnum(static_cast<unsigned char>(before)) && before != '-' &&
                !std::isalnum(static_cast<unsigned char>(after)) && after != '-')
                return true;
        }
        return false;
    };
    const std::string bare = flag.substr(flag.starts_with("--no-") ? 5 : 2);
    if (flag.starts_with("--delta")) return word("--delta1") && word("--delta6");
    return word(flag) || (flag.starts_with("--") && word("--[no-]" + bare));
}

// Every option either tool accepts is listed by its --help.
TEST(ToolHelp, ListsEveryOptionTheToolAccepts) {
    // Each flag, with a value when it takes one.
    std::vector<std::pair<std::string, std::string>> flags;
    for (const char* text :
         {"-h",          "--help",          "--metrics",         "--report",       "--track 1",
          "-o out.txt",  "--output o.txt",  "--out-dir d",       "-j 2",           "--jobs 2",
          "--ini a.ini", "--options a.opt", "--tuning Standard", "--png a.png",    "--bmp a.bmp",
          "--pdf a.pdf", "--width 800",     "--height 600",      "--page-size A4", "--across 3",
          "--down 5",    "--layout standard"}) {
        const std::string flag(text);
        const size_t space = flag.find(' ');
        flags.push_back(
            {flag.substr(0, space), space == std::string::npos ? "" : flag.substr(space + 1)});
    }
    for (const SettingRow& row : SettingRows()) {
        if (!row.Flag) continue;
        const std::string name = std::string("--") + row.Flag;
        if (row.Kind == SettingKind::Switch) {
            flags.push_back({name, ""});
            flags.push_back({std::string("--no-") + row.Flag, ""});
        } else {
            flags.push_back({name, std::to_string(row.Min)});
        }
    }
    const std::string convertHelp = cli::UsageText(), exportHelp = cliexport::ExportUsageText();
    int accepted[2] = {0, 0};
    for (const auto& [flag, value] : flags) {
        std::vector<const char*> args = {"morvel-convert", flag.c_str()};
        if (!value.empty()) args.push_back(value.c_str());
        args.push_back("in.mid");
        cli::Options options;
        std::string error;
        if (cli::ParseArguments(static_cast<int>(args.size()), args.data(), options, error)) {
            ++accepted[0];
            EXPECT_TRUE(Lists(convertHelp, flag)) << "morvel-convert --help lacks " << flag;
        }
        args.erase(args.begin());
        std::vector<const char*> exportArgs = {"--track", "1", "--png", "x.png"};
        exportArgs.insert(exportArgs.end(), args.begin(), args.end());
        ExportOptions exportOptions;
        if (Parse(exportArgs, exportOptions, error)) {
            ++accepted[1];
            EXPECT_TRUE(Lists(exportHelp, flag)) << "morvel-export --help lacks " << flag;
        }
    }
    EXPECT_GT(accepted[0], 25);
    EXPECT_GT(accepted[1], 25);
}

TEST(ExportToolArguments, TakeOwnFlagsAndTheConvertersSettings) {
    ExportOptions o;
    std::string error;
    ASSERT_TRUE(
        Parse({"--track", "2", "--png=a.png", "--pdf", "b.pdf", "--page-size", "Letter", "--across",
               "4", "--down=6", "--width", "800", "--show-chords", "--transpose", "-3", "in.mid"},
              o, error))
        << error;
    EXPECT_EQ(o.Convert.Track, 2);
    EXPECT_EQ(o.Png, "a.png");
    EXPECT_EQ(o.Pdf, "b.pdf");
    EXPECT_EQ(o.PageSize, cliexport::PageSizeChoice::Letter);
    EXPECT_EQ(o.Across, 4);
    EXPECT_EQ(o.Down, 6);
    EXPECT_EQ(o.Width, 800);
    EXPECT_FALSE(o.Height);
    ConversionSettings settings;
    Tuning tuning;
    cli::ApplyFlags(o.Convert, settings, tuning);
    EXPECT_EQ(settings.ShowChord, 1);
    EXPECT_EQ(tuning.Transpose, -3);
    EXPECT_EQ(o.Convert.Inputs, std::vector<std::string>({"in.mid"}));

    const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
        {{"--png", "a.png", "in.mid"}, "--track N is needed"},
        {{"--track", "1", "in.mid"}, "nothing to write"},
        {{"--track", "1", "--bmp", "a.bmp"}, "no MIDI file given"},
        {{"--track", "1", "--pdf", "a.pdf", "-o", "x.txt", "in.mid"}, "-o is not used here"},
        {{"--track", "1", "--pdf", "a.pdf", "--page-size", "A3", "in.mid"}, "not A4 or Letter"},
        {{"--track", "1", "--pdf", "a.pdf", "--across", "11", "in.mid"}, "out of range 1..10"},
        {{"--track", "1", "--png", "a.png", "--width", "99999", "in.mid"}, "out of range"},
        {{"--track", "1", "--pdf", "a.pdf", "--bogus", "in.mid"}, "unknown option --bogus"},
    };
    for (const auto& [args, text] : refused) {
        EXPECT_FALSE(Parse(args, o, error)) << text;
        EXPECT_NE(error.find(text), std::string::npos) << error;
    }
}

// The PDF without its creation date, which is all two prints of the same pages differ in.
QByteArray PdfWithoutDate(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = file.readAll();
    static const QRegularExpression date("/CreationDate \\([^)]*\\)");
    return QString::fromLatin1(bytes).remove(date).toLatin1();
}

int RunTool(const QStringList& args, QString* output = nullptr) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(MORVEL_EXPORT_TOOL, args);
    if (!tool.waitForFinished(60000)) return -1;
    if (output) *output = QString::fromLocal8Bit(tool.readAll());
    return tool.exitCode();
}

TEST_F(ExportTest, ToolWritesTheWindowsPagesAndPicture) {
    // The window's picture and the tool's are computed from the window's default outer size.
    const QSize outer = form->size();
    EXPECT_EQ(outer, QSize(DEFAULT_WINDOW_WIDTH, DEFAULT_WINDOW_HEIGHT));

    Show(Song({Measures(3), Measures(17)}), 2);
    const QString midi = answer;
    saveAnswer = Out("window.pdf");
    exporter->PrintAllTab1Click();
    const QImage picture = exporter->RenderTrackBitmap();
    ASSERT_EQ(shown, QStringList());

    QString output;
    ASSERT_EQ(RunTool({"--track", "2", "--pdf", Out("tool.pdf"), "--png", Out("tool.png"), midi},
                      &output),
              0)
        << output.toStdString();
    EXPECT_EQ(PdfPages(Out("tool.pdf")), 2);
    EXPECT_EQ(PdfWithoutDate(Out("tool.pdf")), PdfWithoutDate(saveAnswer));
    EXPECT_EQ(QImage(Out("tool.png")).convertToFormat(QImage::Format_RGB32), picture);

    // No such track, and a track without notes, are said; nothing is written.
    EXPECT_EQ(RunTool({"--track", "3", "--png", Out("none.png"), midi}, &output), 1);
    EXPECT_TRUE(output.contains("no track 3: the file has 2 tracks")) << output.toStdString();
    EXPECT_FALSE(QFile::exists(Out("none.png")));

    // A picture higher than 32767 pixels comes in parts cut between rows.
    const QString longMidi = WriteMidi(Song({Measures(400)}), "long.mid");
    ASSERT_EQ(RunTool({"--track", "1", "--bmp", Out("long.bmp"), longMidi}, &output), 0);
    EXPECT_TRUE(output.contains("2 parts")) << output.toStdString();
    const QImage first(Out("long.bmp")), second(Out("long-2.bmp"));
    const int cellHeight = DEFAULT_WINDOW_HEIGHT / 2;
    EXPECT_EQ(first.height() % cellHeight, 0);
    EXPECT_LE(first.height(), MAX_PICTURE_PIXELS);
    EXPECT_EQ(first.height() + second.height(), 201 * cellHeight);

    // A picture cut for its memory, not its height, says so.
    ASSERT_EQ(RunTool({"--track", "2", "--width", "20000", "--height", "760", "--png",
                       Out("wide.png"), midi},
                      &output),
              0);
    EXPECT_TRUE(output.contains("30000 x 3420 pixels, more than the 256 MiB one picture may take"))
        << output.toStdString();

    // An over-long name gets the system's reason, and standard output by name is written.
    const QString tooLong = Out(QString(300, 'n') + ".png");
    EXPECT_EQ(RunTool({"--track", "2", "--png", tooLong, midi}, &output), 1);
    EXPECT_TRUE(output.contains("cannot create: File name too long")) << output.toStdString();
    EXPECT_EQ(RunTool({"--track", "2", "--bmp", "/dev/stdout", midi}, &output), 0);
    EXPECT_TRUE(output.contains("BM")) << output.left(200).toStdString();

    // Control bytes of file names never reach the terminal raw.
    const QString odd = Out("odd\x1b[31m.mid");
    ASSERT_TRUE(QFile::copy(midi, odd));
    EXPECT_EQ(RunTool({"--track", "3", "--png", Out("none.png"), odd}, &output), 1);
    EXPECT_FALSE(output.contains('\x1b')) << output.toStdString();
    EXPECT_TRUE(output.contains("odd\\x1b[31m.mid: no track 3")) << output.toStdString();
}

} // namespace
} // namespace morvel::exporttest
