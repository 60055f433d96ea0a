#include "controls/CShortcuts.h"

#include <QAbstractButton>
#include <QShortcut>

QString CShortcuts::ToolTip(const QString& what, const char* key)
{
    return QStringLiteral("%1 (%2)").arg(what,
                                         QKeySequence(QString::fromLatin1(key)).toString(QKeySequence::NativeText));
}

QShortcut* CShortcuts::Bind(QWidget* scope, QAbstractButton* button, const char* key, const QString& what)
{
    // A window-wide key, live only while its tab is shown (a hidden widget's keys are off).
    auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(key)), scope);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->click();
    });
    button->setToolTip(ToolTip(what, key));
    return shortcut;
}
