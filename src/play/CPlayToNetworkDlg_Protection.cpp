// The Play tab's protection of the output: SMPTE 2022-1 FEC (mode, L and D,
// RTP only) and impairment on purpose (loss, bursts, re-ordering, duplicates,
// jitter, seed). Both are taken at Play; what they did shows on the status line
// while the play runs, so that deliberate loss is never silent.

#include "controls/CSettings.h"
#include "play/CPlayToNetworkDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QStringList>

namespace
{
// Index of the FEC box.
constexpr int kFecOff = 0;
constexpr int kFecRowColumn = 2;
// Shown in the fields while their feature is off.
constexpr int kDefaultBurstPeriod = 1'000;
constexpr int kDefaultReorderDepth = 4;
} // namespace

void CPlayToNetworkDlg::InitProtection()
{
    auto* ui = m_ui.get();
    auto update = [this] { UpdateProtectionControls(m_controller->GetState() != CPlayController::PlayState::Playing); };
    connect(ui->modeCombo, &QComboBox::currentIndexChanged, this, update);
    connect(ui->fecModeCombo, &QComboBox::currentIndexChanged, this, update);
    connect(ui->impairCheck, &QCheckBox::toggled, this, update);
    ui->outputTabs->setTabToolTip(0, QStringLiteral("Where the stream goes, how it is paced and its FEC"));
    ui->outputTabs->setTabToolTip(1, QStringLiteral("Loss, bursts, re-ordering, duplicates and jitter on purpose"));
    ui->protectionStatusLabel->setVisible(false);
}

void CPlayToNetworkDlg::UpdateProtectionControls(bool stopped)
{
    auto* ui = m_ui.get();
    const bool fec = stopped && ui->modeCombo->currentIndex() == 1;
    ui->fecModeCombo->setEnabled(fec);
    ui->fecColumnsSpin->setEnabled(fec && ui->fecModeCombo->currentIndex() != kFecOff);
    ui->fecRowsSpin->setEnabled(fec && ui->fecModeCombo->currentIndex() != kFecOff);
    // A link (SRT, RIST) carries the datagrams itself: nothing to impair.
    const bool link = ui->modeCombo->currentIndex() >= kModeSrt;
    ui->impairCheck->setEnabled(stopped && !link);
    ui->impairGroup->setEnabled(stopped && !link && ui->impairCheck->isChecked());
    ui->outputTabs->setTabEnabled(ui->outputTabs->indexOf(ui->impairPage), !link);
    // The page's tab says it, so that an impairment is seen from the Output page too.
    ui->outputTabs->setTabText(ui->outputTabs->indexOf(ui->impairPage),
                               ui->impairCheck->isChecked() ? QStringLiteral("Impair: on") : QStringLiteral("Impair"));
    UpdateLinkControls(stopped);
}

void CPlayToNetworkDlg::WriteProtection()
{
    auto* ui = m_ui.get();
    ui->fecModeCombo->setCurrentIndex(m_fecMode);
    ui->fecColumnsSpin->setValue(m_fecColumns);
    ui->fecRowsSpin->setValue(m_fecRows);
    ui->impairCheck->setChecked(m_impair);
    const CImpairment::Settings& s = m_impairment;
    ui->impairLossSpin->setValue(s.lossPercent);
    ui->impairBurstSpin->setValue(static_cast<int>(s.burstLength));
    ui->impairBurstPeriodSpin->setValue(s.burstLength > 0 ? static_cast<int>(s.burstPeriod) : kDefaultBurstPeriod);
    ui->impairReorderSpin->setValue(s.reorderPercent);
    ui->impairReorderDepthSpin->setValue(s.reorderPercent > 0 ? static_cast<int>(s.reorderDepth)
                                                              : kDefaultReorderDepth);
    ui->impairDuplicateSpin->setValue(s.duplicatePercent);
    ui->impairJitterSpin->setValue(s.jitterMs);
    ui->impairSeedSpin->setValue(static_cast<int>(m_impairSeed));
    UpdateProtectionControls(m_controller->GetState() != CPlayController::PlayState::Playing);
}

bool CPlayToNetworkDlg::ReadProtection(bool quiet)
{
    auto* ui = m_ui.get();
    auto refuse = [&](QWidget* field, const QString& text) {
        if (!quiet)
        {
            ShowError(text);
            field->setFocus();
        }
        return false;
    };
    const int fecMode = ui->fecModeCombo->currentIndex() < 0 ? kFecOff : ui->fecModeCombo->currentIndex();
    CFecEncoder::Settings fec;
    fec.columns = static_cast<std::uint32_t>(ui->fecColumnsSpin->value());
    fec.rows = static_cast<std::uint32_t>(ui->fecRowsSpin->value());
    // Checked only when it will be used (RTP), so that a UDP play is never refused for it.
    if (fecMode != kFecOff && ui->modeCombo->currentIndex() == 1)
        if (const std::string why = CFecEncoder::CheckSettings(fec); !why.empty())
            return refuse(ui->fecColumnsSpin, QStringLiteral("FEC: %1.").arg(QString::fromStdString(why)));

    CImpairment::Settings s;
    s.lossPercent = ui->impairLossSpin->value();
    s.burstLength = static_cast<std::uint32_t>(ui->impairBurstSpin->value());
    s.burstPeriod = s.burstLength > 0 ? static_cast<std::uint32_t>(ui->impairBurstPeriodSpin->value()) : 0;
    s.reorderPercent = ui->impairReorderSpin->value();
    s.reorderDepth = s.reorderPercent > 0 ? static_cast<std::uint32_t>(ui->impairReorderDepthSpin->value()) : 0;
    s.duplicatePercent = ui->impairDuplicateSpin->value();
    s.jitterMs = ui->impairJitterSpin->value();
    // The command line's own check of an impairment text (orvane-cli play --impair).
    CImpairment::Settings checked;
    std::string why;
    if (ui->impairCheck->isChecked() && !CImpairment::Parse(CImpairment::Describe(s), checked, why))
        return refuse(ui->impairBurstSpin, QStringLiteral("Impair: %1.").arg(QString::fromStdString(why)));

    m_fecMode = fecMode;
    m_fecColumns = static_cast<int>(fec.columns);
    m_fecRows = static_cast<int>(fec.rows);
    m_impair = ui->impairCheck->isChecked();
    m_impairment = s;
    m_impairSeed = static_cast<std::uint64_t>(ui->impairSeedSpin->value());
    return true;
}

void CPlayToNetworkDlg::LoadProtection(const QString& section)
{
    // Values out of range (a hand-edited file) fall back to their defaults without a word.
    m_fecMode = CSettings::GetProfileInt(section, QStringLiteral("FecMode"), kFecOff);
    if (m_fecMode < kFecOff || m_fecMode > kFecRowColumn)
        m_fecMode = kFecOff;
    CFecEncoder::Settings fec;
    fec.columns = static_cast<std::uint32_t>(CSettings::GetProfileInt(section, QStringLiteral("FecColumns"), 10));
    fec.rows = static_cast<std::uint32_t>(CSettings::GetProfileInt(section, QStringLiteral("FecRows"), 10));
    const bool fecUsable = CFecEncoder::CheckSettings(fec).empty();
    m_fecColumns = fecUsable ? static_cast<int>(fec.columns) : kDefaultFecColumns;
    m_fecRows = fecUsable ? static_cast<int>(fec.rows) : kDefaultFecRows;
    m_impair = CSettings::GetProfileInt(section, QStringLiteral("ImpairEnable"), 0) != 0;
    std::string why;
    const QString text = CSettings::GetProfileString(section, QStringLiteral("Impairment"), QStringLiteral("none"));
    if (!CImpairment::Parse(text.trimmed().toStdString(), m_impairment, why))
        m_impairment = {};
    const int seed = CSettings::GetProfileInt(section, QStringLiteral("ImpairSeed"), 1);
    m_impairSeed = seed < 0 ? 1u : static_cast<std::uint64_t>(seed);
}

void CPlayToNetworkDlg::SaveProtection(const QString& section)
{
    CSettings::WriteProfileInt(section, QStringLiteral("FecMode"), m_fecMode);
    CSettings::WriteProfileInt(section, QStringLiteral("FecColumns"), m_fecColumns);
    CSettings::WriteProfileInt(section, QStringLiteral("FecRows"), m_fecRows);
    CSettings::WriteProfileInt(section, QStringLiteral("ImpairEnable"), m_impair ? 1 : 0);
    // One text, as orvane-cli play --impair takes it.
    CSettings::WriteProfileString(section, QStringLiteral("Impairment"),
                                  QString::fromStdString(CImpairment::Describe(m_impairment)));
    CSettings::WriteProfileInt(section, QStringLiteral("ImpairSeed"), static_cast<int>(m_impairSeed));
}

QString CPlayToNetworkDlg::ProtectionStatusText(const CPlayController::PlaySettings& settings,
                                                const CPlayController::PlayProgress& progress)
{
    QStringList parts;
    const CImpairment::Settings& s = settings.impairment;
    if (s.IsActive())
    {
        const CImpairment::Counters& c = progress.impairment;
        QStringList done;
        if (s.lossPercent > 0 || s.burstLength > 0)
            done << QStringLiteral("%1 lost").arg(c.lost + c.burstLost);
        if (s.reorderPercent > 0)
            done << QStringLiteral("%1 re-ordered").arg(c.reordered);
        if (s.duplicatePercent > 0)
            done << QStringLiteral("%1 duplicated").arg(c.duplicated);
        if (s.jitterMs > 0)
            done << QStringLiteral("%1 delayed").arg(c.delayed);
        parts << QStringLiteral("Impaired: ") + done.join(QStringLiteral(", "));
    }
    if (settings.fec && settings.rtp)
    {
        const CFecEncoder::Counters& c = progress.fec;
        QString text = QStringLiteral("FEC sent: %1 column").arg(c.column);
        if (settings.fec->mode == CFecEncoder::Mode::RowColumn)
            text += QStringLiteral(", %1 row").arg(c.row);
        // Media datagrams that left without protection are said, never hidden.
        if (c.refused + c.abandoned > 0)
            text += QStringLiteral(", %1 unprotected").arg(c.refused + c.abandoned);
        parts << text;
    }
    return parts.join(QStringLiteral("; "));
}

void CPlayToNetworkDlg::ShowProtectionStatus(const CPlayController::PlayProgress* progress)
{
    // Without a progress: a new play starts from zero counters.
    const QString text =
        ProtectionStatusText(m_playing, progress != nullptr ? *progress : CPlayController::PlayProgress{});
    QLabel* label = m_ui->protectionStatusLabel;
    label->setVisible(!text.isEmpty());
    if (label->text() == text)
        return;
    label->setText(text);
    label->setToolTip(text);
}
