// The Play tab's Open and file analysis: the head and tail of the file go
// through the tab's analysis object (CFileAnalysis), the results become the
// tab's members and the three trees; files under 1 MiB may not loop.

#include "analysis/CFileAnalysis.h"
#include "controls/CButtonStyle.h"
#include "controls/CLabel.h"
#include "controls/IUiServices.h"
#include "engine/CFilePlayEngine.h"
#include "play/CPlayToNetworkDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QFileInfo>

void CPlayToNetworkDlg::OnOpen()
{
    // What the user typed so far is kept, also when the dialog is cancelled.
    UpdateData(true, true);
    const QString path = UiServices().GetOpenFileName(this, QString(), QFileInfo(m_filePath).absolutePath(),
                                                      QStringLiteral("Transport Stream (*.ts);;All Files (*)"));
    if (!path.isEmpty())
    {
        m_filePath = path;
        m_ui->fileNameLabel->SetText(QFileInfo(path).fileName());
        AnalyseFile();
    }
    UpdateData(false);
}

void CPlayToNetworkDlg::AnalyseFile()
{
    m_ui->fileNameLabel->SetText(QFileInfo(m_filePath).fileName());
    m_engine->SetPacketSize(0);
    SaveSettings();

    const CFileAnalysisResult result = CFileAnalysis::Analyse(m_filePath.toStdString(), m_decoder);
    if (!result.ok)
    {
        // Missing, locked or no path: the trees say so, the results stay as they were.
        m_ui->programInfoTree->clear();
        ShowFileInformation(result.fileInformation);
    }
    else
    {
        m_fileSize = result.fileSize;
        m_bitRate = result.bitRate;
        m_bytesBeforeFirstPacket = result.bytesBeforeFirstPacket;
        m_packetSize = result.packetSize;
        m_engine->SetPacketSize(static_cast<std::uint32_t>(result.packetSize > 0 ? result.packetSize : 0));
        m_bytesAfterLastPacket = result.bytesAfterLastPacket;
        m_packetCount = result.packetCount;
        m_playtime = result.playTimeMs;
        m_fileTotTdtTime = result.fileTotTdtTime;
        m_decoder.UpdateDisplay(1, 1);
        ShowFileInformation(result.fileInformation);
    }
    UpdateData(false);

    CButtonStyle* loop = m_ui->loopButton;
    if (m_fileSize < kSmallFileBytes)
    {
        if (m_loop != 0)
            UiServices().ShowMessage(this, QStringLiteral("Orvane"), QString::fromLatin1(kMsgSmallFileLoop),
                                     IUiServices::Icon::kWarning);
        m_loop = 0;
        SetPressed(loop, false);
        m_engine->SetLoop(false);
        loop->setEnabled(false);
    }
    else
    {
        loop->setEnabled(true);
    }
}

void CPlayToNetworkDlg::ShowFileInformation(const CTreeNode& root)
{
    CQtTreeSink(m_ui->fileInfoTree).ShowTree({root});
    if (m_ui->fileInfoTree->topLevelItemCount() > 0 && !root.children.empty())
        m_ui->fileInfoTree->topLevelItem(0)->setExpanded(true);
}
