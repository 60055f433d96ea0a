#include "play/CTotTdtDlg.h"

#include "ui_CTotTdtDlg.h"

#include <QDateTime>

CTotTdtDlg::CTotTdtDlg(int timeType, std::int64_t timeOffset, QWidget* parent, NowFn now)
    : QDialog(parent), m_timeOffset(timeOffset), m_timeType(timeType < 0 || timeType > 2 ? 0 : timeType),
      m_now(now ? std::move(now) : NowFn([] { return QDateTime::currentSecsSinceEpoch(); })),
      m_ui(std::make_unique<Ui::CTotTdtDlg>())
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    for (int type = 0; type < 3; ++type)
        connect(TypeButton(type), &QRadioButton::clicked, this, [this, type] { OnTypeClicked(type); });
    connect(m_ui->okButton, &QPushButton::clicked, this, &CTotTdtDlg::accept);
    SetToolTips();
    // Cancel leaves the adaptation off, as the close box does.
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CTotTdtDlg::reject);
}

CTotTdtDlg::~CTotTdtDlg() = default;

void CTotTdtDlg::SetToolTips()
{
    m_ui->originalTimeRadio->setToolTip(QStringLiteral("Keep the times the file carries"));
    m_ui->currentTimeRadio->setToolTip(QStringLiteral("The stream starts at the time of Play"));
    m_ui->specifiedTimeRadio->setToolTip(QStringLiteral("The stream starts at the date and time below"));
    m_ui->timePicker->setToolTip(QStringLiteral("Start time of the stream"));
    m_ui->datePicker->setToolTip(QStringLiteral("Start date of the stream"));
    m_ui->okButton->setToolTip(QStringLiteral("Use this time for the play"));
}

QRadioButton* CTotTdtDlg::TypeButton(int timeType) const
{
    switch (timeType)
    {
    case 1:
        return m_ui->currentTimeRadio;
    case 2:
        return m_ui->specifiedTimeRadio;
    default:
        return m_ui->originalTimeRadio;
    }
}

QDateEdit* CTotTdtDlg::DatePicker() const
{
    return m_ui->datePicker;
}

QTimeEdit* CTotTdtDlg::TimePicker() const
{
    return m_ui->timePicker;
}

void CTotTdtDlg::showEvent(QShowEvent* event)
{
    if (!m_initialised)
        OnInitDialog();
    QDialog::showEvent(event);
}

void CTotTdtDlg::OnInitDialog()
{
    m_initialised = true;
    m_openingTime = m_now();
    TypeButton(m_timeType)->setChecked(true);
    ShowTime();
}

void CTotTdtDlg::OnTypeClicked(int timeType)
{
    if (!m_initialised)
        OnInitDialog();
    m_timeType = timeType;
    ShowTime(); // the opening time is not read again
}

void CTotTdtDlg::ShowTime()
{
    const bool specified = m_timeType == 2;
    m_ui->datePicker->setEnabled(specified);
    m_ui->timePicker->setEnabled(specified);
    const std::int64_t shown = m_timeType != 0 ? m_openingTime + m_timeOffset : m_fileTime;
    const QDateTime local = QDateTime::fromSecsSinceEpoch(shown).toLocalTime();
    m_ui->datePicker->setDate(local.date());
    m_ui->timePicker->setTime(local.time());
}

void CTotTdtDlg::accept()
{
    if (!m_initialised)
        OnInitDialog();
    if (m_timeType == 2)
    {
        // Local date and time of day as chosen, against the moment the dialog opened.
        const QTime time = m_ui->timePicker->time();
        const QDateTime chosen(m_ui->datePicker->date(), QTime(time.hour(), time.minute(), time.second()));
        m_timeOffset = chosen.toSecsSinceEpoch() - m_openingTime;
    }
    else
    {
        m_timeOffset = 0;
    }
    QDialog::accept();
}
