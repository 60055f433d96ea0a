#pragma once
// Shared pieces of the GUI tests: registration of test classes, a recording
// stand-in for the desktop services and a loopback sender; the loopback peer
// and receiver come from tests/support.

#include "app/COrvaneDlg.h"
#include "common/CEventLog.h"
#include "controls/CBitrateGraph.h"
#include "controls/CBitrateSampler.h"
#include "controls/CButtonStyle.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CIpAddressCtrl.h"
#include "controls/CLabel.h"
#include "controls/CSettings.h"
#include "controls/CTabActivateEvent.h"
#include "controls/CXTabCtrl.h"
#include "controls/IUiServices.h"
#include "play/CPlayToNetworkDlg.h"
#include "record/CRecFromNetworkDlg.h"
#include "support/LoopbackPeer.h"
#include "support/LoopbackReceiver.h"
#include "ui_CRecFromNetworkDlg.h"

// Every widget class the tests reach (one include rather than one per class and file).
#include <QTest>
#include <QtWidgets>

#include <functional>
#include <map>
#include <string>
#include <vector>

using GuiTestFn = std::function<int(int, char**)>;
std::map<std::string, GuiTestFn>& GuiTests();
bool RegisterGuiTest(const char* name, GuiTestFn fn);

#define ORVANE_GUI_TEST(Class)                                                                                         \
    namespace                                                                                                          \
    {                                                                                                                  \
    const bool kRegistered##Class = RegisterGuiTest(#Class, [](int argc, char** argv) {                                \
        Class test;                                                                                                    \
        return QTest::qExec(&test, argc, argv);                                                                        \
    });                                                                                                                \
    }

//! Records what the windows ask of the desktop; answers questions with m_answer.
class CFakeUiServices : public IUiServices
{
public:
    struct Message
    {
        QString caption;
        QString text;
    };

    CFakeUiServices() : m_previous(SetUiServices(this)) {}
    ~CFakeUiServices() override { SetUiServices(m_previous); }

    void ShowMessage(QWidget*, const QString& caption, const QString& text, Icon) override
    {
        m_messages.push_back({caption, text});
    }
    bool AskYesNo(QWidget*, const QString& caption, const QString& text) override
    {
        m_questions.push_back({caption, text});
        return m_answer;
    }
    QString GetOpenFileName(QWidget*, const QString&, const QString&, const QString& filter) override
    {
        m_filter = filter;
        return m_fileName;
    }
    QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return m_fileName; }
    bool OpenUrl(const QUrl& url) override
    {
        m_urls.push_back(url.toString());
        return m_openUrlResult;
    }
    bool StartDetached(const QString& program, const QStringList& arguments) override
    {
        m_processes.push_back(QStringList{program} + arguments);
        return m_startResult;
    }

    //! The texts of the messages shown so far.
    QStringList Texts() const
    {
        QStringList texts;
        for (const Message& message : m_messages)
            texts.push_back(message.text);
        return texts;
    }

    std::vector<Message> m_messages;
    std::vector<Message> m_questions;
    QStringList m_urls;
    std::vector<QStringList> m_processes; //!< each the program, then its arguments
    bool m_answer = false;
    QString m_fileName;
    QString m_filter; //!< of the last open dialog
    bool m_openUrlResult = true;
    bool m_startResult = true;

private:
    IUiServices* m_previous;
};

using tstest::FreePort;
using tstest::LoopbackPeer;
using tstest::LoopbackReceiver;
using tstest::TestRecord;

//! A tab dialog that counts its activation events and adds its name to @p destroyed when it goes.
class TabProbe : public QWidget
{
public:
    TabProbe(const QString& name, QWidget* parent, std::vector<QString>* destroyed = nullptr)
        : QWidget(parent), m_destroyed(destroyed)
    {
        setObjectName(name);
    }
    ~TabProbe() override
    {
        if (m_destroyed != nullptr)
            m_destroyed->push_back(objectName());
    }
    int m_activated = 0;
    int m_deactivated = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != CTabActivateEvent::Type())
            return QWidget::event(e);
        (static_cast<CTabActivateEvent*>(e)->IsActive() ? m_activated : m_deactivated)++;
        return true;
    }

private:
    std::vector<QString>* m_destroyed;
};

//! Polls @p done while processing events, for up to @p timeoutMs.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3'000);

//! A generated transport stream of @p seconds at @p bitRate.
std::vector<std::uint8_t> TestStream(double seconds, std::uint64_t bitRate = 8'000'000);
//! Sends @p data to 127.0.0.1:@p port in 1,316-byte datagrams, a few per
//! millisecond, calling @p tick about every 50 ms.
void SendLoopback(const std::vector<std::uint8_t>& data, std::uint16_t port, const std::function<void()>& tick);
//! Sends @p data as RTP datagrams of seven packets to 127.0.0.1:@p port and,
//! unless 0, to @p secondPort (SMPTE 2022-7), paced as SendLoopback, with
//! column FEC (@p fecColumns x @p fecRows, none when 0) to each port + 2.
//! Media datagram n is left out on path p (0 or 1) when @p drop(n, p).
void SendRtpPaths(const std::vector<std::uint8_t>& data, std::uint16_t port, std::uint16_t secondPort,
                  std::uint32_t fecColumns, std::uint32_t fecRows, const std::function<bool(std::uint64_t, int)>& drop,
                  const std::function<void()>& tick);
QByteArray ReadAll(const QString& path);
//! Writes @p bytes to @p path; true when all of them went there.
bool WriteAll(const QString& path, const QByteArray& bytes);
//! Discovery requests of the next main windows go to @p targets on @p port (9: nobody listens).
void SetDiscoverTarget(std::uint16_t port, const QString& targets = QStringLiteral("127.0.0.1"));
//! Shows @p window and waits until it is the active window.
void ShowActive(QWidget& window);
QByteArray AsBytes(const std::vector<std::uint8_t>& data, std::size_t from = 0);
//! Writes a generated stream of @p seconds at @p bitRate to @p path (its bytes to @p bytes); the path.
QString WriteStream(const QString& path, double seconds, std::uint64_t bitRate = 8'000'000,
                    std::vector<std::uint8_t>* bytes = nullptr);
//! The 188-byte packets of @p bytes that are not null packets (a play adds stuffing).
QByteArray WithoutNullPackets(const QByteArray& bytes);
//! Sets the controls named in @p fields ("name=value name=value") under @p root: a line edit's
//! text, a combo box's index, a box ticked by 1, a spin box's number.
void SetFields(QWidget* root, const QString& fields);
//! The texts of @p log's entries of @p kind.
QStringList LogTexts(const CEventLog& log, CEventLog::Kind kind);
//! True when @p label shows @p text on @p colour with @p tip (unless null); otherwise says what it shows.
bool ShowsStatus(const CLabel& label, const QString& text, const QColor& colour, const QString& tip = {});

//! Pictures of the real main window for the docs, taken by @p take (not a ctest entry):
//!   xvfb-run -a -s "-screen 0 1400x900x24" build/default/tests/orvane_gui_tests NAME docs/screenshots
//! @p take gets the shown window, the fake desktop and save(NAME), which grabs NAME.png
//! into the directory once the layouts have settled.
using ShotFn = std::function<bool(COrvaneDlg&, CFakeUiServices&, const std::function<bool(const QString&)>&)>;
bool RegisterShots(const char* name, ShotFn take);
