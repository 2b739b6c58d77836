#include "app/ConversionMessages.h"

#include <QFileInfo>

namespace morvel {

QString ConversionMessageTitle(const std::string& midiFileName, const QString& applicationTitle) {
    if (midiFileName.empty()) return applicationTitle;
    QString name = QFileInfo(QString::fromStdString(midiFileName)).fileName();
    for (QChar& c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = '?';
    return name + " - " + applicationTitle;
}

QString ConversionMessageText(const std::string& text) {
    QString message = QString::fromStdString(text);
    while (message.endsWith('\n') || message.endsWith('\r'))
        message.chop(1);
    return message;
}

} // namespace morvel
