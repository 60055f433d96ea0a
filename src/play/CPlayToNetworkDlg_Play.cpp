// The Play tab's running side: Play, Pause, Stop, Loop, jumps of the position
// slider, and the two timers (end of play and status every 100 ms, the
// analysis trees every 500 ms). The play itself is the controller's: the tab
// hands it the settings of its controls and shows its progress.

#include "common/CEventLog.h"
#include "controls/CButtonStyle.h"
#include "controls/CDVBSlider.h"
#include "controls/CLabel.h"
#include "controls/CXTabCtrl.h"
#include "play/CPlayToNetworkDlg.h"
#include "play/CTotTdtDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QComboBox>

#include <algorithm>

using PlayState = CPlayController::PlayState;
using PacingMode = CNetworkSender::PacingMode;

namespace
{
const QString kPacingTip = QStringLiteral("How the datagrams are spaced in time; Auto picks the cheapest pacing "
                                          "available that keeps them evenly spaced");
} // namespace

void CPlayToNetworkDlg::FillPacing()
{
    struct Choice
    {
        PacingMode mode;
        const char* text;
        const char* tip;
    };
    static constexpr Choice kChoices[] = {
        {PacingMode::Auto, "Auto",
         "The cheapest pacing available that keeps the datagrams evenly spaced: departure times where the "
         "interface's qdisc honours them, else the thread"},
        {PacingMode::Uring, "io_uring",
         "The kernel times each datagram (io_uring linked timeouts) and the thread wakes only to refill; "
         "below about 210 Mbit/s"},
        {PacingMode::TxTime, "Departure times",
         "Each datagram carries its departure time (SO_TXTIME) and the interface's fq or etf qdisc spaces them"},
        {PacingMode::Thread, "Thread", "The play-out thread wakes for each burst of at most 100 µs of data"},
        {PacingMode::Burst, "Burst", "No smooth pacing: each millisecond's datagrams leave back to back"},
    };
    QComboBox* combo = m_ui->pacingCombo;
    combo->clear();
    for (const Choice& choice : kChoices)
    {
        combo->addItem(QString::fromLatin1(choice.text), QString::fromLatin1(CNetworkSender::PacingName(choice.mode)));
        combo->setItemData(combo->count() - 1, QString::fromUtf8(choice.tip), Qt::ToolTipRole);
    }
    combo->setToolTip(kPacingTip);
    m_pacingShown.clear();
}

void CPlayToNetworkDlg::ShowPacing(const CPlayController::PlayProgress* progress)
{
    QString tip;
    if (progress != nullptr && !progress->pacing.empty())
    {
        const QString word = QString::fromStdString(progress->pacing);
        const int index = m_ui->pacingCombo->findData(word);
        tip = QStringLiteral("Pacing in use: %1").arg(index < 0 ? word : m_ui->pacingCombo->itemText(index));
        if (!progress->pacingNote.empty())
            tip += QLatin1Char('\n') + QString::fromStdString(progress->pacingNote);
    }
    if (tip == m_pacingShown)
        return;
    // A fall-back from the pacing chosen goes to the event log once per play.
    if (!tip.isEmpty() && !progress->pacingNote.empty() && m_eventLog != nullptr)
        m_eventLog->Add(CEventLog::Kind::Status, "Play: " + progress->pacingNote);
    m_pacingShown = tip;
    m_ui->pacingCombo->setToolTip(tip.isEmpty() ? kPacingTip : tip);
}

QString CPlayToNetworkDlg::FormatDuration(std::int64_t seconds)
{
    return QString::fromStdString(CPlayController::FormatDuration(seconds));
}

CPlayController::Adaptations CPlayToNetworkDlg::ChosenAdaptations() const
{
    return {m_pcr, m_continuity, m_totTdt, m_timeType, m_timeOffset};
}

CPlayController::PlaySettings CPlayToNetworkDlg::PlaySettingsAt(std::uint32_t position) const
{
    CPlayController::PlaySettings settings;
    settings.address = m_ipAddress;
    settings.port = static_cast<std::uint16_t>(m_port);
    if (!m_ipv6Address.isEmpty())
        CNetAddress::ParseHost(m_ipv6Address.toStdString(), settings.destination, settings.port);
    settings.rtp = m_mode == 1;
    // A link carries the datagrams itself: no multicast, FEC or impairment on it.
    const bool link = m_link.kind != CLinkFields::Kind::None;
    if (link)
        settings.output = m_output.get();
    settings.ttl = m_multicastTtl;
    settings.interfaceAddress = m_multicastInterface;
    settings.bitRate = m_bitRate;
    settings.pacing = m_pacing;
    settings.smoothPacing = m_pacing != PacingMode::Burst;
    settings.loop = m_loop;
    settings.rangeStart = kSliderMin;
    settings.rangeEnd = kSliderMax;
    settings.position = position;
    settings.adaptations = ChosenAdaptations();
    settings.analyse = true; // the trees follow the play
    if (settings.rtp && m_fecMode != 0)
    {
        CFecEncoder::Settings fec;
        fec.columns = static_cast<std::uint32_t>(m_fecColumns);
        fec.rows = static_cast<std::uint32_t>(m_fecRows);
        fec.mode = m_fecMode == 2 ? CFecEncoder::Mode::RowColumn : CFecEncoder::Mode::Column;
        settings.fec = fec;
    }
    if (m_impair && !link)
        settings.impairment = m_impairment;
    settings.impairSeed = m_impairSeed;
    return settings;
}

void CPlayToNetworkDlg::OnPlay()
{
    // A refused port or bit rate plays nothing (not to the previous values).
    if (!UpdateData(true))
    {
        UpdateControls(); // the clicked Play button springs back
        return;
    }
    m_playedOut = false;
    if (m_controller->GetState() == PlayState::Playing)
    {
        // Play during a play restarts nothing (its tail may still drain); during a pause it resumes.
        SetPressed(m_ui->pauseButton, false);
        m_controller->Resume();
        SetPressed(m_ui->playButton, true);
        ReportRunState();
        return;
    }
    if (m_filePath.isEmpty())
        OnOpen();
    // Nothing plays: the sender has closed the last play's output.
    if (!MakeOutput())
    {
        UpdateControls();
        return;
    }

    m_ui->programInfoTree->setEnabled(true);
    m_ui->pidInfoTree->setEnabled(true);
    SaveSettings();
    CDVBSlider* slider = m_ui->positionSlider;
    const int position = std::clamp(slider->value(), kSliderMin, kSliderMax);
    slider->setValue(position);

    const CPlayController::PlaySettings settings = PlaySettingsAt(static_cast<std::uint32_t>(position));
    const CPlayController::StartResult result = m_controller->Start(m_filePath.toStdString(), settings);
    UpdateControls();
    if (result == CPlayController::StartResult::Started)
    {
        m_playing = settings;
        ShowProtectionStatus(nullptr);
        if (m_tabCtrl != nullptr)
            m_tabCtrl->EnableOnlyTab(TabIndex());
        const CPlayController::PlayProgress progress = m_controller->Progress();
        ShowPacing(&progress);
    }
    else
    {
        // A failed start has been told by the engine; a refused one is told here.
        if (result != CPlayController::StartResult::Failed)
        {
            // A file the analysis could name (M2TS packets) is refused with that reason.
            const std::string& why = m_controller->File().error;
            const QString text = result == CPlayController::StartResult::NotTransportStream && !why.empty()
                                     ? QString::fromStdString(why)
                                     : QString::fromLatin1(CPlayController::RefusalText(result));
            ShowError(text);
        }
        m_statusResetPending = true;
    }
    m_lastShownElapsed = 0;
}

void CPlayToNetworkDlg::OnPause()
{
    CButtonStyle* pause = m_ui->pauseButton;
    if (!pause->IsPressed())
        m_controller->Resume();
    else if (!m_controller->Pause())
        SetPressed(pause, false); // nothing plays: nothing to hold
    ReportRunState();
}

void CPlayToNetworkDlg::OnStop()
{
    m_controller->Stop();
    SetPressed(m_ui->pauseButton, false);
    m_ui->pauseButton->update();
    m_ui->positionSlider->setValue(0);
    m_statusResetPending = true;
    UpdateControls();
    if (m_tabCtrl != nullptr)
        m_tabCtrl->EnableAllTabs();
}

void CPlayToNetworkDlg::OnLoop()
{
    m_loop = m_ui->loopButton->IsPressed();
    m_controller->SetLoop(m_loop);
}

void CPlayToNetworkDlg::OnSliderReleased()
{
    Jump();
}

void CPlayToNetworkDlg::Jump()
{
    CDVBSlider* slider = m_ui->positionSlider;
    const int position = std::clamp(slider->value(), kSliderMin, kSliderMax);
    slider->setValue(position);
    m_controller->Jump(static_cast<std::uint32_t>(position));
}

void CPlayToNetworkDlg::UpdateControls()
{
    const bool stopped = m_controller->GetState() != PlayState::Playing;
    SetPressed(m_ui->playButton, !stopped);
    SetPressed(m_ui->stopButton, stopped);
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_ui->modeCombo, m_ui->portEdit, m_ui->ipAddress, m_ipv6Edit, m_ui->openButton, m_ui->ttlSpin,
             m_ui->interfaceCombo, m_ui->bitRateEdit, m_ui->pacingCombo, m_ui->linkFields})
        control->setEnabled(stopped);
    UpdateProtectionControls(stopped);
    if (stopped)
        ShowPacing(nullptr);
    ReportRunState();
}

void CPlayToNetworkDlg::EndPlay()
{
    m_controller->Stop();
    UpdateControls();
    SetPressed(m_ui->pauseButton, false);
    m_ui->positionSlider->setValue(0);
    if (m_tabCtrl != nullptr)
        m_tabCtrl->EnableAllTabs();
}

void CPlayToNetworkDlg::ShowNetworkStatus(const CPlayController::PlayProgress& progress)
{
    // Only a change touches the label: before the first warning of a run the
    // status stays as it was, without a colour.
    const QString text = QString::fromStdString(progress.statusText);
    if (text == m_statusText && progress.statusColour == m_statusColour && progress.statusDetail == m_statusDetail)
        return;
    // A new warning is logged once, not every change of its count.
    const bool newWarning = progress.statusColour == CPlayController::StatusColour::Red &&
                            (text != m_statusText || m_statusColour != progress.statusColour);
    m_statusText = text;
    m_statusColour = progress.statusColour;
    m_statusDetail = progress.statusDetail;
    const CPlayController::Rgb rgb = CPlayController::ColourRgb(progress.statusColour);
    const QColor background(rgb.red, rgb.green, rgb.blue);
    m_ui->statusLabel->SetBkColor(background, background, 0);
    m_ui->statusLabel->SetText(m_statusText);
    // The field is one short line: the reason and the count of a send error go in its tip.
    m_ui->statusLabel->setToolTip(QString::fromStdString(progress.statusDetail));
    if (newWarning)
        LogError(m_statusText + QStringLiteral(" ") + QString::fromStdString(progress.statusDetail));
}

void CPlayToNetworkDlg::OnStatusTimer()
{
    const CPlayController::PlayProgress progress = m_controller->Progress();
    if (progress.playedOut)
    {
        m_playedOut = true;
        EndPlay();
    }

    CDVBSlider* slider = m_ui->positionSlider;
    const bool playing = m_controller->GetState() == PlayState::Playing;
    const std::int64_t elapsed = progress.elapsedMs / 100;
    if (playing && elapsed > m_lastShownElapsed)
    {
        m_lastShownElapsed = elapsed;
        if (!slider->IsDragging())
            slider->setValue(static_cast<int>(progress.positionPermille));
        m_ui->elapsedTimeLabel->SetText(FormatDuration(elapsed / 10));
        m_ui->loopCountLabel->SetText(QString::number(progress.loopCount));
        ShowNetworkStatus(progress);
        ShowProtectionStatus(&progress);
        ShowPacing(&progress);
        m_statusResetPending = true;
    }
    if (playing)
        ShowLinkStatus();
    else if (m_statusResetPending && !playing)
    {
        m_statusResetPending = false;
        m_ui->statusLabel->setEnabled(false);
        m_ui->statusLabel->setEnabled(true);
        m_ui->elapsedTimeLabel->SetText(QStringLiteral("0:00:00"));
        m_ui->loopCountLabel->SetText(QStringLiteral("0"));
    }
    // While stopped the Ts time is that of the slider: where the next play starts.
    const std::uint32_t tsSeconds =
        playing ? progress.tsSeconds : m_controller->TsSecondsAt(static_cast<std::uint32_t>(slider->value()));
    m_ui->tsTimeLabel->SetText(FormatDuration(tsSeconds));
}

void CPlayToNetworkDlg::OnTreeTimer()
{
    if (m_controller->Engine().IsRunning())
        m_decoder.UpdateDisplay(0, 1);
}

void CPlayToNetworkDlg::OnTotTdt()
{
    UpdateData(true);
    m_totTdt = false;
    if (m_ui->totTdtCheck->isChecked())
    {
        CTotTdtDlg dlg(m_timeType, m_timeOffset, this);
        dlg.SetFileTime(m_controller->File().fileTotTdtTime);
        if (dlg.exec() == QDialog::Accepted)
        {
            m_timeOffset = dlg.TimeOffset();
            m_timeType = dlg.TimeType();
            m_totTdt = true;
        }
    }
    m_controller->ApplyTotTdt(ChosenAdaptations());
    UpdateData(false);
}

void CPlayToNetworkDlg::OnAdaptAll()
{
    // Every adaptation on; TOT/TDT as a tick by hand, through its dialog.
    m_ui->pcrCheck->setChecked(true);
    m_ui->continuityCheck->setChecked(true);
    if (!m_ui->totTdtCheck->isChecked())
    {
        m_ui->totTdtCheck->setChecked(true);
        OnTotTdt();
    }
    UpdateData(true);
    if (m_controller->GetState() == PlayState::Playing)
        m_controller->ApplyAdaptations(ChosenAdaptations());
}
