#pragma once
//! @file CE2eDriver.h
//! Drives the running main window of Orvane through its widgets, as a user would,
//! for the end-to-end test. The "play" role opens a file on the Play tab, sends it
//! to 127.0.0.1 with loop and every adaptation on (PCR, continuity, TOT/TDT through
//! its dialog) and stops after a number of completed passes; the "record" role
//! records from the Record tab into a ring of files until a stop file appears.
//!
//! Modal windows (file dialogs, the TOT/TDT dialog) are answered from a timer while
//! the click that opened them waits; a message box nobody expected fails the run.
//! Everything runs on the window thread, inside the application's event loop.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
class CXTabCtrl;

class CE2eDriver
{
public:
    struct Options
    {
        QString role;          //!< "play" or "record"
        QString file;          //!< play: the file to open; record: the output file to choose
        int port = 0;          //!< loopback port of the stream
        bool rtp = true;       //!< mode "RTP" (else "UDP")
        int passes = 3;        //!< play: completed passes (loop count) before Stop
        int jumpPermille = -1; //!< play: the position slider dragged there after the first pass (-1: no jump)
        int ringFiles = 4;     //!< record: files in the ring
        int megabytes = 1;     //!< record: limit per file, MiB
        int seconds = 0;       //!< record: limit per file in seconds instead (0: MiB)
        QString stopFile;      //!< record: Stop once this file exists
        int timeoutMs = 60'000;
        QString shotDir;     //!< when set: pictures of the window at the main steps go there
        QString shotSuffix;  //!< appended to each picture's name
        int windowWidth = 0; //!< the main window resized to this first (0: as it opens)
        int windowHeight = 0;
    };

    //! @return false with @p error set when the arguments are unusable.
    static bool ParseArguments(const QStringList& arguments, Options& options, QString& error);

    explicit CE2eDriver(Options options) : m_options(std::move(options)) {}

    //! Runs the role, then closes the main window (which ends the event loop).
    void Run();
    //! 0 when every step succeeded.
    int ExitCode() const { return m_failed ? 1 : 0; }

private:
    bool RunPlay(QWidget* main, CXTabCtrl* tabs);
    bool RunRecord(QWidget* main, CXTabCtrl* tabs);
    bool DragSlider(QWidget* tab, QWidget* play);
    //! Steps both roles share: the port and the mode, the file through its dialog, Loop.
    bool SetPortAndMode(QWidget* tab);
    bool ChooseFile(QWidget* tab, const char* button, const QString& what);
    bool PressLoop(QWidget* tab);

    bool Fail(const QString& what);
    //! With --shot-dir: @p window as it is drawn now, as NAME+suffix.png.
    void Shot(QWidget* window, const QString& name);
    //! @p window as it is drawn now, as NAME+suffix.png.
    void Save(QWidget* window, const QString& name);
    //! The Record tab's picture with example TR 101 290 counts in its panel.
    void ShotIndicators(QWidget* window, QWidget* tab);
    bool Click(QWidget* widget, const char* what);
    bool TypeInto(QWidget* edit, const QString& text, const char* what);
    bool SelectComboText(QWidget* combo, const QString& text);
    bool SelectTab(CXTabCtrl* tabs, const QString& caption);
    //! Polls @p done while the event loop runs; false (and a failure) after @p timeoutMs.
    bool WaitFor(const std::function<bool()>& done, int timeoutMs, const QString& what);
    //! Answers the next modal dialog @p handler accepts (returns true for) while @p open runs.
    bool WithModal(const std::function<bool(QWidget*)>& handler, const std::function<void()>& open,
                   const QString& what);
    //! Types @p path into a file dialog and accepts it.
    static bool FillFileDialog(QWidget* dialog, const QString& path);
    void WatchMessageBoxes();

    Options m_options;
    bool m_failed = false;
};
