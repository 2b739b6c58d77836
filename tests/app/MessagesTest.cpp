// A conversion's message box names the file in its title and keeps the message text as the
// core wrote it, less the report's line end.
#include "app/ConversionMessages.h"
#include "core/Conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ConversionMessages, TitleNamesTheFileAndTextsKeepTheirWording) {
    morvel::Conversion conversion;
    std::vector<std::string> texts;
    conversion.SetReporter([&](const std::string& text) { texts.push_back(text); });
    conversion.MidiFileName = "/no/such/dir/bad\nname.mid";
    conversion.ConvertMidiFile();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(morvel::ConversionMessageTitle(conversion, "App"), "bad\\nname.mid - App");
    const QString first = morvel::ConversionMessageText(texts.front());
    EXPECT_TRUE(first.startsWith("Can't open MIDI file '")) << first.toStdString();
    EXPECT_FALSE(first.endsWith('\n') || first.endsWith('\r'));

    conversion.MidiFileName.clear();
    EXPECT_EQ(morvel::ConversionMessageTitle(conversion, "App"), "App");
    EXPECT_EQ(morvel::ConversionMessageText("Can't read MIDI track."), "Can't read MIDI track.");
}

} // namespace
