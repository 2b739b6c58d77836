#include "app/CommandLine.h"

#include "core/Conversion.h"
#include "core/Version.h"

#include <QCommandLineParser>

namespace morvel {

namespace {

constexpr const char* PROGRAM_NAME = "morvel";

// Options the application object reads itself; taken here so they are not refused, and
// hidden from the usage.
const char* const QT_VALUE_OPTIONS[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "style",           "stylesheet",         "display",       "geometry"};
const char* const QT_SWITCH_OPTIONS[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help{{"h", "help"}, "Show this text and end."};
    QCommandLineOption version{{"v", "version"}, "Show the program's version and end."};

    Parser() {
        // Single-dash words are whole options, as Qt's own (-platform offscreen) are.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            "Turns Standard MIDI Files into guitar or bass tablature.\n"
            "The version window comes first; FILE, when given, is opened once it is closed.");
        parser.addOption(help);
        parser.addOption(version);
        parser.addPositionalArgument("FILE", "A MIDI file to open.", "[FILE]");
        for (const char* name : QT_VALUE_OPTIONS) {
            QCommandLineOption option(name, QString(), "value");
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
        for (const char* name : QT_SWITCH_OPTIONS) {
            QCommandLineOption option(name);
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }

    // The parser's text names the running binary on its first line; the usage names the
    // program, whatever path started it.
    QString Usage() const {
        QString text = parser.helpText();
        text.remove(0, text.indexOf('\n') + 1);
        return QString("Usage: %1 [options] [FILE]\n").arg(PROGRAM_NAME) + text;
    }
};

CommandLine UsageError(const Parser& p, const QString& reason) {
    CommandLine result;
    result.Exit = true;
    result.ExitStatus = EXIT_USAGE;
    // The reason quotes what was typed: control characters in it are shown, not sent.
    const QString shown =
        QString::fromStdString(EscapeControlBytes(reason.toUtf8().toStdString()));
    result.ErrorOutput = QString("%1: %2\n").arg(PROGRAM_NAME, shown) + p.Usage();
    return result;
}

} // namespace

QString CommandLineUsage() {
    return Parser().Usage();
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    QStringList decoded;
    for (const std::string& argument : arguments)
        decoded << QString::fromLocal8Bit(argument);
    Parser p;
    if (!p.parser.parse(decoded)) return UsageError(p, p.parser.errorText());
    CommandLine result;
    if (p.parser.isSet(p.help)) {
        result.Exit = true;
        result.Output = p.Usage();
        return result;
    }
    if (p.parser.isSet(p.version)) {
        result.Exit = true;
        result.Output = QString("%1 %2\n").arg(PROGRAM_NAME, PROGRAM_VERSION);
        return result;
    }
    const QStringList files = p.parser.positionalArguments();
    if (files.size() > 1) return UsageError(p, "one FILE at most can be opened");
    if (files.isEmpty()) return result;
    // The file's own bytes: a name that is not valid in the locale's encoding was decoded
    // with replacement characters, which name no file.
    for (size_t i = arguments.size(); i-- > 1;)
        if (decoded[static_cast<qsizetype>(i)] == files.front()) {
            result.File = arguments[i];
            break;
        }
    return result;
}

} // namespace morvel
