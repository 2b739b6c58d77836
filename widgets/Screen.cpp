#include "widgets/Screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace morvel {

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    window->move(area.x() + (area.width() - window->width()) / 2,
                 area.y() + (area.height() - window->height()) / 2);
}

} // namespace morvel
