#pragma once
//! @file CAboutDlg.h
//! The About box: icon, program name and version, one line about the program, OK.

#include <QDialog>

#include <memory>

namespace Ui
{
class CAboutDlg;
}

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> m_ui;
};
