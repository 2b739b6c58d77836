#include "app/WindowAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace morvel {

namespace {

QAccessibleInterface* WindowFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    // Only the program's own plain QWidget windows; dialogs, main windows and popups (menus,
    // completion lists) already have their roles.
    if (!widget || widget->windowType() != Qt::Window) return nullptr;
    if (!className.startsWith(QLatin1String("morvel::"))) return nullptr;
    if (widget->metaObject()->superClass() != &QWidget::staticMetaObject) return nullptr;
    if (className != QLatin1String(widget->metaObject()->className())) return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void InstallWindowAccessibility() {
    QAccessible::installFactory(WindowFactory);
}

} // namespace morvel
