#include "controls/CUiServices.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

namespace
{
CUiServices g_defaultServices;
IUiServices* g_services = &g_defaultServices;
} // namespace

IUiServices& UiServices()
{
    return *g_services;
}

IUiServices* SetUiServices(IUiServices* services)
{
    IUiServices* previous = g_services;
    g_services = services != nullptr ? services : &g_defaultServices;
    return previous;
}

void CUiServices::ShowMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon)
{
    const auto boxIcon = icon == Icon::kError     ? QMessageBox::Critical
                         : icon == Icon::kWarning ? QMessageBox::Warning
                                                  : QMessageBox::Information;
    QMessageBox box(boxIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

bool CUiServices::AskYesNo(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setWindowModality(Qt::ApplicationModal);
    // Every question here guards something that cannot be undone: Enter or Escape answers No.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString CUiServices::GetOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                     const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString CUiServices::GetSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                     const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, directory, filter);
}

bool CUiServices::OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool CUiServices::StartDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}
