// Files dropped on a window from outside the program (a file manager, a desktop).
#pragma once

#include <QObject>
#include <QString>

class QMimeData;
class QWidget;

namespace morvel {

// The first local file among the URLs of a drag, or an empty text when it carries none (web
// addresses, plain text).
QString FirstLocalFile(const QMimeData* data);

// Makes `window` accept drops of local files and announces the first file of each drop from
// the event loop, after the drop has ended; every other drag is refused, so the pointer shows
// that it cannot be dropped.
class FileDrop : public QObject {
    Q_OBJECT
  public:
    explicit FileDrop(QWidget* window);

  signals:
    void FileDropped(const QString& path);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace morvel
