// orvane: the desktop station. Problem reports are installed before anything
// else runs, so that a fault during start-up is reported too.

#include "app/CCrashReport.h"
#include "app/COrvaneApp.h"
#include "controls/CSettings.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>

namespace
{
void UninstallCrashReport()
{
    CCrashReport::Uninstall();
}
} // namespace

int main(int argc, char** argv)
{
    // Names first: the report directory is derived from them.
    QCoreApplication::setOrganizationName(CSettings::kOrganization);
    QCoreApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName());
    CCrashReport::Install(COrvaneApp::ReportDirectory().toStdString(), ORVANE_VERSION);
    std::atexit(UninstallCrashReport);

    COrvaneApp app(argc, argv);
    app.InitInstance();
    return 0;
}
