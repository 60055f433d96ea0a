#include "app/CAboutDlg.h"

#include "ui_CAboutDlg.h"

#include <QIcon>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CAboutDlg>())
{
    m_ui->setupUi(this);
    m_ui->iconLabel->setPixmap(QIcon(QStringLiteral(":/icons/app.svg")).pixmap(32, 32));
    m_ui->versionLabel->setText(QStringLiteral("Orvane, Version %1").arg(QStringLiteral(ORVANE_VERSION)));
    setFixedSize(size());
}

CAboutDlg::~CAboutDlg() = default;
