#include "app/ConversionMessages.h"

#include <QFileInfo>

namespace morvel {

QString ConversionMessageTitle(const Conversion& conversion, const QString& applicationTitle) {
    if (conversion.MidiFileName.empty()) return applicationTitle;
    const QString shown = QString::fromStdString(conversion.MessageFileName());
    return QFileInfo(shown).fileName() + " - " + applicationTitle;
}

QString ConversionMessageText(const std::string& text) {
    QString message = QString::fromStdString(text);
    while (message.endsWith('\n') || message.endsWith('\r'))
        message.chop(1);
    return message;
}

} // namespace morvel
