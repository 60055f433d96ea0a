#include "app/CEventLogDlg.h"

#include "common/CEventLog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

CEventLogDlg::CEventLogDlg(const CEventLog& log, QWidget* parent)
    : QDialog(parent), m_log(log), m_text(new QPlainTextEdit(this)), m_fileLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("eventLogDlg"));
    setWindowTitle(QStringLiteral("Event Log"));
    m_text->setObjectName(QStringLiteral("eventLogText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setToolTip(QStringLiteral("Run states, sequence jumps, ring file switches, errors and device events"));
    m_fileLabel->setObjectName(QStringLiteral("eventLogFile"));
    m_fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_fileLabel->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setToolTip(QStringLiteral("Close the event log (the log goes on)"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_fileLabel);
    layout->addWidget(buttons);
    resize(720, 360);
    m_refreshTimer.setObjectName(QStringLiteral("eventLogTimer"));
    connect(&m_refreshTimer, &QTimer::timeout, this, &CEventLogDlg::Refresh);
}

void CEventLogDlg::showEvent(QShowEvent* event)
{
    Refresh();
    m_refreshTimer.start(kRefreshMs);
    QDialog::showEvent(event);
}

void CEventLogDlg::hideEvent(QHideEvent* event)
{
    m_refreshTimer.stop();
    QDialog::hideEvent(event);
}

void CEventLogDlg::Refresh()
{
    const QString path = QString::fromStdString(m_log.FilePath());
    const QString error = QString::fromStdString(m_log.FileError());
    if (path.isEmpty())
        m_fileLabel->setText(QStringLiteral("Kept in memory only: no state directory (HOME is not set)."));
    else if (!error.isEmpty())
        m_fileLabel->setText(QStringLiteral("Kept in memory only: %1 cannot be written (%2).")
                                 .arg(QDir::toNativeSeparators(path), error));
    else
        m_fileLabel->setText(QStringLiteral("Also written to %1").arg(QDir::toNativeSeparators(path)));

    const std::uint64_t count = m_log.AddedCount();
    if (count == m_shownCount)
        return;
    m_shownCount = count;
    QScrollBar* bar = m_text->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int previous = bar->value();
    QString text;
    for (const CEventLog::Entry& entry : m_log.Entries())
        text += QString::fromStdString(CEventLog::FormatEntry(entry)) + QLatin1Char('\n');
    m_text->setPlainText(text);
    // Reading older lines is not disturbed; at the end it follows the new ones.
    bar->setValue(atEnd ? bar->maximum() : previous);
}
