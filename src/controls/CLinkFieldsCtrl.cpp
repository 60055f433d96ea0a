#include "controls/CLinkFieldsCtrl.h"

#include "controls/CSettings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QStringList>

#include <utility>

namespace
{
QSpinBox* MakeSpin(QWidget* parent, const char* name, const QString& prefix, int maximum, int value, const QString& tip)
{
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setPrefix(prefix);
    spin->setSuffix(QStringLiteral(" ms"));
    spin->setRange(0, maximum);
    spin->setValue(value);
    spin->setToolTip(tip);
    return spin;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& placeholder, int maxLength, bool masked,
                    const QString& tip)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setPlaceholderText(placeholder);
    edit->setMaxLength(maxLength);
    edit->setToolTip(tip);
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, const QStringList& items, const QString& tip)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->addItems(items);
    combo->setToolTip(tip);
    return combo;
}

//! An index saved as a number: out of range, @p fallback.
int ReadIndex(const QString& section, const char* key, int fallback, int count)
{
    const int value = CSettings::GetProfileInt(section, QString::fromLatin1(key), fallback);
    return value >= 0 && value < count ? value : fallback;
}
} // namespace

CLinkFieldsCtrl::CLinkFieldsCtrl(QWidget* parent) : QWidget(parent)
{
    m_srtMode = MakeCombo(this, "srtModeCombo",
                          {QStringLiteral("Caller"), QStringLiteral("Listener"), QStringLiteral("Rendezvous")},
                          QStringLiteral("Caller: connects to the address and port; listener: waits on the port "
                                         "(on the address when given); rendezvous: both ends connect at once"));
    m_latency = MakeSpin(this, "latencySpin", QStringLiteral("Latency "), kMaxLatencyMs, kDefaultLatencyMs,
                         QStringLiteral("How long SRT may take to recover a loss (the larger of both ends' is used)"));
    m_passphrase = MakeEdit(this, "passphraseEdit", QStringLiteral("Passphrase"), kMaxPassphrase, true,
                            QStringLiteral("10 to 79 characters: the stream is encrypted (AES); both ends need the "
                                           "same. Empty: not encrypted"));
    m_streamId = MakeEdit(this, "streamIdEdit", QStringLiteral("Stream id"), kMaxStreamId, false,
                          QStringLiteral("Caller: sent to the listener; listener: callers with another stream id "
                                         "are refused. Empty: none"));
    m_ristMode = MakeCombo(this, "ristModeCombo", {QStringLiteral("Caller"), QStringLiteral("Listener")},
                           QStringLiteral("Caller: sends to (or asks) the address and port; listener: waits on the "
                                          "port (on the address when given)"));
    m_profile = MakeCombo(this, "profileCombo", {QStringLiteral("Simple profile"), QStringLiteral("Main profile")},
                          QStringLiteral("Simple (TR-06-1): RTP with retransmission, an even port and the one above; "
                                         "main (TR-06-2): one port, optional encryption"));
    m_profile->setCurrentIndex(1);
    m_buffer = MakeSpin(this, "bufferSpin", QStringLiteral("Buffer "), kMaxBufferMs, kDefaultBufferMs,
                        QStringLiteral("How long librist may take to recover a loss by retransmission"));
    m_secret = MakeEdit(this, "secretEdit", QStringLiteral("Secret"), 128, true,
                        QStringLiteral("Main profile: the stream is encrypted (AES-128) with this secret; both ends "
                                       "need the same. Empty: not encrypted"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(4);
    grid->addWidget(m_srtMode, 0, 0);
    grid->addWidget(m_latency, 0, 1);
    grid->addWidget(m_passphrase, 1, 0);
    grid->addWidget(m_streamId, 1, 1);
    grid->addWidget(m_ristMode, 0, 0);
    grid->addWidget(m_buffer, 0, 1);
    grid->addWidget(m_secret, 1, 0);
    grid->addWidget(m_profile, 1, 1);
    SetKind(Kind::None);
}

void CLinkFieldsCtrl::SetOneRow()
{
    auto* grid = static_cast<QGridLayout*>(layout());
    QWidget* const order[2][4] = {{m_srtMode, m_latency, m_passphrase, m_streamId},
                                  {m_ristMode, m_buffer, m_secret, m_profile}};
    for (const auto& row : order)
        for (int column = 0; column < 4; ++column)
        {
            grid->removeWidget(row[column]);
            grid->addWidget(row[column], 0, column);
        }
}

void CLinkFieldsCtrl::SetKind(Kind kind)
{
    m_kind = kind;
    for (QWidget* field : {static_cast<QWidget*>(m_srtMode), static_cast<QWidget*>(m_latency),
                           static_cast<QWidget*>(m_passphrase), static_cast<QWidget*>(m_streamId)})
        field->setVisible(kind == Kind::Srt);
    for (QWidget* field : {static_cast<QWidget*>(m_ristMode), static_cast<QWidget*>(m_profile),
                           static_cast<QWidget*>(m_buffer), static_cast<QWidget*>(m_secret)})
        field->setVisible(kind == Kind::Rist);
    setVisible(kind != Kind::None);
}

QWidget* CLinkFieldsCtrl::FieldWidget(LinkField field) const
{
    const std::pair<LinkField, QWidget*> widgets[] = {
        {LinkField::Latency, m_latency}, {LinkField::Passphrase, m_passphrase}, {LinkField::StreamId, m_streamId},
        {LinkField::Profile, m_profile}, {LinkField::Buffer, m_buffer},         {LinkField::Secret, m_secret}};
    for (const auto& [which, widget] : widgets)
        if (which == field)
            return widget;
    return nullptr;
}

void CLinkFieldsCtrl::Load(const QString& section)
{
    m_srtMode->setCurrentIndex(ReadIndex(section, "SrtMode", 0, m_srtMode->count()));
    const int latency = CSettings::GetProfileInt(section, QStringLiteral("SrtLatency"), kDefaultLatencyMs);
    m_latency->setValue(latency >= 0 && latency <= kMaxLatencyMs ? latency : kDefaultLatencyMs);
    m_passphrase->setText(CSettings::GetProfileString(section, QStringLiteral("SrtPassphrase"), {}));
    m_streamId->setText(CSettings::GetProfileString(section, QStringLiteral("SrtStreamId"), {}));
    m_ristMode->setCurrentIndex(ReadIndex(section, "RistMode", 0, m_ristMode->count()));
    m_profile->setCurrentIndex(ReadIndex(section, "RistProfile", 1, m_profile->count()));
    const int buffer = CSettings::GetProfileInt(section, QStringLiteral("RistBuffer"), kDefaultBufferMs);
    m_buffer->setValue(buffer >= 0 && buffer <= kMaxBufferMs ? buffer : kDefaultBufferMs);
    m_secret->setText(CSettings::GetProfileString(section, QStringLiteral("RistSecret"), {}));
}

void CLinkFieldsCtrl::Save(const QString& section) const
{
    CSettings::WriteProfileInt(section, QStringLiteral("SrtMode"), m_srtMode->currentIndex());
    CSettings::WriteProfileInt(section, QStringLiteral("SrtLatency"), m_latency->value());
    CSettings::WriteProfileString(section, QStringLiteral("SrtPassphrase"), m_passphrase->text());
    CSettings::WriteProfileString(section, QStringLiteral("SrtStreamId"), m_streamId->text());
    CSettings::WriteProfileInt(section, QStringLiteral("RistMode"), m_ristMode->currentIndex());
    CSettings::WriteProfileInt(section, QStringLiteral("RistProfile"), m_profile->currentIndex());
    CSettings::WriteProfileInt(section, QStringLiteral("RistBuffer"), m_buffer->value());
    CSettings::WriteProfileString(section, QStringLiteral("RistSecret"), m_secret->text());
}
