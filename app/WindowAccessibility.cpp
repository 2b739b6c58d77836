#include "app/WindowAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace morvel {

namespace {

QAccessibleInterface* WindowFactory(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    // Only classes that are plain QWidget windows of their own; dialogs and main windows
    // already have their roles.
    if (!widget || !widget->isWindow()) return nullptr;
    if (widget->metaObject()->superClass() != &QWidget::staticMetaObject) return nullptr;
    if (className != QLatin1String(widget->metaObject()->className())) return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

} // namespace

void InstallWindowAccessibility() {
    QAccessible::installFactory(WindowFactory);
}

} // namespace morvel
