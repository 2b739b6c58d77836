#include "core/IniFile.h"

#include <gtest/gtest.h>

using morvel::IniFile;
using morvel::ParseIniInteger;

TEST(IniInteger, AcceptsDecimalAndEveryHexadecimalForm) {
    EXPECT_EQ(ParseIniInteger("21"), 21);
    EXPECT_EQ(ParseIniInteger("  -12 "), -12);
    EXPECT_EQ(ParseIniInteger("+7"), 7);
    EXPECT_EQ(ParseIniInteger("0x800080"), 0x800080);
    EXPECT_EQ(ParseIniInteger("0XfF"), 255);
    EXPECT_EQ(ParseIniInteger("$FFFF"), 0xFFFF);
    EXPECT_EQ(ParseIniInteger("-$10"), -16);
    EXPECT_EQ(ParseIniInteger("4294967295"), 4294967295LL);
    EXPECT_EQ(ParseIniInteger("-2147483648"), -2147483648LL);
}

TEST(IniInteger, RejectsAnythingElse) {
    for (const char* text : {"", " ", "-", "0x", "$", "12abc", "1 2", "3.5", "abc", "0b101", "$G",
                             "4294967296", "-2147483649", "99999999999999999999"})
        EXPECT_FALSE(ParseIniInteger(text).has_value()) << '"' << text << '"';
}

TEST(IniFile, FindsSectionsAndKeysWithoutRegardToCase) {
    IniFile ini = IniFile::Parse("; comment = not a key\r\n"
                                 "[Other]\r\n"
                                 "Transpose=9\r\n"
                                 "[params]\r\n"
                                 "  transPose =  4  \r\n"
                                 ";MAXFRET=30\r\n"
                                 "Tuning=\"  Drop D \"\r\n"
                                 "empty=\r\n"
                                 "transpose=5\r\n");
    EXPECT_EQ(ini.Get("PARAMS", "TRANSPOSE"), "4"); // first one wins, not another section's
    EXPECT_FALSE(ini.Get("PARAMS", "MAXFRET").has_value());
    EXPECT_EQ(ini.Get("PARAMS", "TUNING"), "  Drop D ");
    EXPECT_EQ(ini.Get("PARAMS", "EMPTY"), "");
    EXPECT_FALSE(ini.Get("PARAMS", "MISSING").has_value());
    EXPECT_FALSE(ini.Get("NOSECTION", "TRANSPOSE").has_value());
    EXPECT_EQ(ini.Get("other", "transpose"), "9");
}

TEST(IniFile, UpdatesInPlaceAndKeepsEveryOtherLine) {
    const std::string original = "; my settings\r\n"
                                 "[Other]\r\n"
                                 "Transpose=9\r\n"
                                 "\r\n"
                                 "[Params]\r\n"
                                 "transpose=0x10\r\n"
                                 "Unknown=keep me\r\n"
                                 "\r\n"
                                 "[Last]\r\n"
                                 "x=1\r\n";
    IniFile ini = IniFile::Parse(original);
    EXPECT_EQ(ini.Text(), original);

    ini.Set("PARAMS", "TRANSPOSE", "-3");
    ini.Set("PARAMS", "MAXFRET", "24");
    ini.Set("NEW", "A", "b");
    EXPECT_EQ(ini.Text(), "; my settings\r\n"
                          "[Other]\r\n"
                          "Transpose=9\r\n"
                          "\r\n"
                          "[Params]\r\n"
                          "transpose=-3\r\n"
                          "Unknown=keep me\r\n"
                          "MAXFRET=24\r\n"
                          "\r\n"
                          "[Last]\r\n"
                          "x=1\r\n"
                          "\r\n"
                          "[NEW]\r\n"
                          "A=b\r\n");
}

TEST(IniFile, NewFileUsesPlainLineEndsAndValuesReadBackUnchanged) {
    IniFile ini;
    ini.Set("PARAMS", "MIDIFILEDIR", "/music/ with blanks /");
    ini.Set("PARAMS", "TUNING", "\"quoted\"");
    ini.Set("PARAMS", "BROKEN", "first\nsecond=1");
    EXPECT_EQ(ini.Text(), "[PARAMS]\n"
                          "MIDIFILEDIR=/music/ with blanks /\n"
                          "TUNING=\"\"quoted\"\"\n"
                          "BROKEN=first\n");
    IniFile reread = IniFile::Parse(ini.Text());
    EXPECT_EQ(reread.Get("PARAMS", "MIDIFILEDIR"), "/music/ with blanks /");
    EXPECT_EQ(reread.Get("PARAMS", "TUNING"), "\"quoted\"");
    EXPECT_FALSE(reread.Get("PARAMS", "second").has_value());

    IniFile padded;
    padded.Set("PARAMS", "TUNING", " Open G ");
    EXPECT_EQ(IniFile::Parse(padded.Text()).Get("PARAMS", "TUNING"), " Open G ");
}

TEST(IniFile, KeepsByteOrderMarkAndLastLineWithoutLineEnd) {
    IniFile ini = IniFile::Parse("\xEF\xBB\xBF[PARAMS]\nMAXFRET=22");
    EXPECT_EQ(ini.Get("PARAMS", "MAXFRET"), "22");
    ini.Set("PARAMS", "MAXFRET", "23");
    EXPECT_EQ(ini.Text(), "\xEF\xBB\xBF[PARAMS]\nMAXFRET=23\n");
}

TEST(IniFile, CarriageReturnsInValuesReadBackAsWritten) {
    IniFile ini;
    ini.Set("PARAMS", "TUNING", "Drop\rD");
    ini.Set("PARAMS", "X", "1\r");
    IniFile reread = IniFile::Parse(ini.Text());
    EXPECT_EQ(reread.Get("PARAMS", "TUNING"), "Drop\rD");
    EXPECT_EQ(reread.Get("PARAMS", "X"), "1\r");

    // A file's own carriage returns stay, however often it is saved; its line ends too.
    const std::string original = "[PARAMS]\nX=1\r\r\nY=a\rb\nZ=2\r\n";
    std::string text = original;
    for (int save = 0; save < 3; ++save) {
        IniFile file = IniFile::Parse(text);
        file.Set("PARAMS", "Z", "2");
        text = file.Text();
    }
    EXPECT_EQ(text, original);
    EXPECT_EQ(IniFile::Parse(text).Get("PARAMS", "X"), "1\r");
    EXPECT_EQ(IniFile::Parse(text).Get("PARAMS", "Y"), "a\rb");

    IniFile crlf = IniFile::Parse("[PARAMS]\r\nX=1\r\r\nLast=\r");
    crlf.Set("PARAMS", "T", "Drop\rD");
    EXPECT_EQ(crlf.Text(), "[PARAMS]\r\nX=1\r\r\nLast=\r\r\nT=Drop\rD\r\n");
    EXPECT_EQ(IniFile::Parse(crlf.Text()).Get("PARAMS", "Last"), "\r");
}
