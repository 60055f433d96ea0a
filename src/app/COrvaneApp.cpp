#include "app/COrvaneApp.h"

#include "app/CCrashReport.h"
#include "app/COrvaneDlg.h"
#include "controls/CSettings.h"
#include "controls/IUiServices.h"

#include <QDir>
#include <QIcon>
#include <QStandardPaths>
#include <QUrl>

COrvaneApp::COrvaneApp(int& argc, char** argv) : QApplication(argc, argv)
{
    // The settings live under this organisation and the executable's base name.
    setOrganizationName(CSettings::kOrganization);
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
}

QString COrvaneApp::ReportDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool COrvaneApp::InitInstance()
{
    CCrashReport::InstallNewHandler();
    OfferPendingReport(ReportDirectory());

    COrvaneDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    exec();
    return false;
}

bool COrvaneApp::OfferPendingReport(const QString& directory)
{
    const auto report = CCrashReport::TakePendingReport(directory.toStdString());
    if (report.empty())
        return false;
    const QString path = QString::fromStdString(report);
    const QString text = QStringLiteral("Orvane stopped unexpectedly the last time it ran. A problem report was "
                                        "saved in\n%1\n\nDo you want to see it now?")
                             .arg(QDir::toNativeSeparators(path));
    if (UiServices().AskYesNo(nullptr, QStringLiteral("Orvane"), text))
        UiServices().OpenUrl(QUrl::fromLocalFile(path));
    return true;
}
