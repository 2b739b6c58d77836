// Helpers shared by the settings GUI tests: a temporary settings folder and a tiny MIDI file.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <initializer_list>
#include <string>

#include <ostream>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}

namespace morvel::test {

// Points XDG_CONFIG_HOME at a fresh folder for the life of the object.
class ConfigHome {
  public:
    ConfigHome() : old_(qgetenv("XDG_CONFIG_HOME")) {
        qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    }
    ~ConfigHome() { qputenv("XDG_CONFIG_HOME", old_); }
    QString IniPath() const { return dir_.path() + "/morvel/MORVEL.INI"; }
    QString Path(const QString& name) const { return dir_.path() + "/" + name; }

  private:
    QTemporaryDir dir_;
    QByteArray old_;
};

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

// A format-0 file with division 96 and one track playing `notes` one quarter note apart.
inline QByteArray TinyMidi(std::initializer_list<int> notes) {
    QByteArray track;
    for (int note : notes) {
        track += QByteArray("\x00\x90", 2) + char(note) + char(100);
        track += QByteArray("\x60\x80", 2) + char(note) + char(0);
    }
    track += QByteArray("\x00\xFF\x2F\x00", 4);
    QByteArray file("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60", 14);
    file += "MTrk";
    const int n = static_cast<int>(track.size());
    for (int shift : {24, 16, 8, 0})
        file += char((n >> shift) & 0xFF);
    return file + track;
}

} // namespace morvel::test
