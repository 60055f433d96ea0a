// The Play tab's Open and file analysis: the head and tail of the file go
// through the tab's analysis object (the play controller's Analyse), the
// results stay with the controller and fill the three trees and the TR 101 290
// panel; files under 1 MiB may not loop.

#include "controls/CButtonStyle.h"
#include "controls/CIndicatorPanel.h"
#include "controls/CLabel.h"
#include "controls/IUiServices.h"
#include "play/CPlayToNetworkDlg.h"
#include "ui_CPlayToNetworkDlg.h"

#include <QFileInfo>

void CPlayToNetworkDlg::OnOpen()
{
    // What the user typed so far is kept, also when the dialog is cancelled.
    UpdateData(true, true);
    const QString path = UiServices().GetOpenFileName(this, QString(), QFileInfo(m_filePath).absolutePath(),
                                                      QString::fromLatin1(kFileFilter));
    if (!path.isEmpty())
    {
        m_filePath = path;
        m_ui->fileNameLabel->SetText(QFileInfo(path).fileName());
        AnalyseFile();
        AddRecentFile(path);
    }
    UpdateData(false);
}

void CPlayToNetworkDlg::AnalyseFile()
{
    m_ui->fileNameLabel->SetText(QFileInfo(m_filePath).fileName());
    // Quietly: this runs when the tab is shown, not when the user asks for anything.
    SaveSettings(true);

    const CFileAnalysisResult result = m_controller->Analyse(m_filePath.toStdString());
    if (!result.ok)
    {
        // Missing, locked or no path: the trees say so, the results stay as they were.
        m_ui->programInfoTree->clear();
        m_indicators->Clear();
    }
    else
    {
        m_decoder.UpdateDisplay(1, 1);
        // What the analysed head and tail hold; a file has no "now" (no red).
        m_indicators->ShowCounters(m_decoder.TakeSnapshot().tr101290, false);
    }
    if (m_filePath.isEmpty())
        m_ui->fileInfoTree->clear(); // no file chosen yet: nothing to complain about
    else
        ShowFileInformation(result.fileInformation);
    UpdateData(false);

    CButtonStyle* loop = m_ui->loopButton;
    if (m_controller->File().fileSize < kSmallFileBytes)
    {
        if (m_loop && !m_filePath.isEmpty())
        {
            QString text = QString::fromLatin1(kMsgSmallFileLoop);
            if (!result.ok)
                text = QStringLiteral("File looping is off: the file %1 %2.")
                           .arg(m_filePath, QFileInfo::exists(m_filePath) ? QStringLiteral("cannot be read")
                                                                          : QStringLiteral("is missing"));
            ShowWarning(text);
        }
        m_loop = false;
        SetPressed(loop, false);
        m_controller->SetLoop(false);
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
