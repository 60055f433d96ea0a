#pragma once
//! @file CUiServices.h
//! The real desktop services: QMessageBox, QFileDialog, QDesktopServices, QProcess.

#include "controls/IUiServices.h"

class CUiServices : public IUiServices
{
public:
    void ShowMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon) override;
    bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                            const QString& filter) override;
    QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                            const QString& filter) override;
    bool OpenUrl(const QUrl& url) override;
    bool StartDetached(const QString& program, const QStringList& arguments) override;
};
