// Problem reports: a child process crashes on purpose and leaves its report.

#include "app/CCrashReport.h"

#include "GuiTest.h"
#include "app/COrvaneApp.h"

class CCrashReportTest : public QObject
{
    Q_OBJECT

private:
    static QString RunChild(const QString& directory, const QString& mode, QProcess::ExitStatus& status)
    {
        QProcess child;
        child.start(qEnvironmentVariable("ORVANE_CRASH_CHILD"), {directory, mode});
        if (!child.waitForFinished(30'000))
            return {};
        status = child.exitStatus();
        QFile report(directory + "/" + CCrashReport::kReportFileName);
        return report.open(QIODevice::ReadOnly) ? QString::fromUtf8(report.readAll()) : QString();
    }

private slots:
    void initTestCase() { QVERIFY(!qEnvironmentVariable("ORVANE_CRASH_CHILD").isEmpty()); }

    void fatalSignalsWriteAReport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("reason");
        for (const auto& [mode, reason] :
             {std::pair("segv", "Reason: segmentation fault (SIGSEGV)"), std::pair("abort", "Reason: abort (SIGABRT)"),
              std::pair("fpe", "Reason: arithmetic error (SIGFPE)")})
            QTest::newRow(mode) << QString(mode) << QString(reason);
    }

    void fatalSignalsWriteAReport()
    {
        QFETCH(QString, mode);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QProcess::ExitStatus status = QProcess::NormalExit;
        const QString report = RunChild(dir.path(), mode, status);
        QCOMPARE(status, QProcess::CrashExit); // the signal still ends the process
        QVERIFY2(report.startsWith("Subject: Problem report for Orvane\nProgram: Orvane " ORVANE_VERSION "\n"),
                 qPrintable(report));
        QVERIFY2(report.contains(reason) && report.contains("Backtrace:\n") && report.contains("orvane_crash_child") &&
                     report.contains(QRegularExpression("Time: 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC")),
                 qPrintable(report));
    }

    void aFailedAllocationWritesAReport()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer reports a failed allocation itself");
#else
        QTemporaryDir dir;
        QProcess::ExitStatus status = QProcess::NormalExit;
        const QString report = RunChild(dir.path(), "oom", status);
        QVERIFY2(report.contains("Reason: out of memory (an allocation failed)"), qPrintable(report));
#endif
    }

    void theNextStartOffersTheReportOnce()
    {
        QTemporaryDir dir;
        QProcess::ExitStatus status = QProcess::NormalExit;
        RunChild(dir.path(), "segv", status);
        CFakeUiServices ui;
        ui.m_answer = true;
        QVERIFY(COrvaneApp::OfferPendingReport(dir.path()));
        QVERIFY(ui.m_questions.size() == 1 && ui.m_questions[0].text.contains("problem report"));
        QCOMPARE(ui.m_urls.size(), 1);
        QVERIFY(ReadAll(QUrl(ui.m_urls[0]).toLocalFile()).startsWith("Subject: Problem report for Orvane"));
        // Offered once: the next start finds nothing.
        QVERIFY(!COrvaneApp::OfferPendingReport(dir.path()) && ui.m_questions.size() == 1);
    }
};

ORVANE_GUI_TEST(CCrashReportTest)
#include "CCrashReportTest.moc"
