#pragma once
//! @file CLinkFieldsCtrl.h
//! The fields of an SRT or RIST link in the Play and Record tabs, shown only
//! for the transport chosen in the tab's Mode box: SRT's role (caller,
//! listener, rendezvous), latency, passphrase (masked) and stream id; RIST's
//! role (caller, listener), profile, buffer and secret (masked). The address
//! and the port are the tab's own fields. Two rows of two fields, no captions
//! (each field says what it is by its prefix or its placeholder), so that the
//! link takes no more room than the fields it stands for.
//!
//! The values are saved in the tab's settings section (Srt... and Rist... keys,
//! docs/guide/settings.md); each transport keeps its own.

#include "common/LinkField.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>

#include <algorithm>

class CLinkFieldsCtrl : public QWidget
{
    Q_OBJECT

public:
    //! Which transport's fields show.
    using Kind = LinkKind;
    static constexpr int kDefaultLatencyMs = 120;
    static constexpr int kMaxLatencyMs = 60'000;
    static constexpr int kDefaultBufferMs = 1'000;
    static constexpr int kMaxBufferMs = 30'000;
    static constexpr int kMaxPassphrase = 79;
    static constexpr int kMaxStreamId = 512;

    explicit CLinkFieldsCtrl(QWidget* parent = nullptr);

    void SetKind(Kind kind);
    //! The four fields in one row instead of two rows of two (the Record tab's Network box).
    void SetOneRow();
    Kind GetKind() const { return m_kind; }

    //! Reads and writes the values in settings section @p section; out of range: the defaults.
    void Load(const QString& section);
    void Save(const QString& section) const;

    // SRT: 0 caller, 1 listener, 2 rendezvous.
    QComboBox* SrtModeCombo() const { return m_srtMode; }
    QSpinBox* LatencySpin() const { return m_latency; }
    QLineEdit* PassphraseEdit() const { return m_passphrase; }
    QLineEdit* StreamIdEdit() const { return m_streamId; }
    // RIST: 0 caller, 1 listener; profile 0 simple, 1 main.
    QComboBox* RistModeCombo() const { return m_ristMode; }
    QComboBox* ProfileCombo() const { return m_profile; }
    QSpinBox* BufferSpin() const { return m_buffer; }
    QLineEdit* SecretEdit() const { return m_secret; }
    //! The widget of @p field; null for the tab's own fields (the address, the port) and None.
    QWidget* FieldWidget(LinkField field) const;
    //! Copies the fields' values into @p link (the engine's CLinkFields, which this layer
    //! does not see: hence a template, instantiated by the tabs).
    template<class Link> void ReadInto(Link& link) const;

private:
    Kind m_kind = Kind::None;
    QComboBox* m_srtMode;
    QSpinBox* m_latency;
    QLineEdit* m_passphrase;
    QLineEdit* m_streamId;
    QComboBox* m_ristMode;
    QComboBox* m_profile;
    QSpinBox* m_buffer;
    QLineEdit* m_secret;
};

template<class Link> void CLinkFieldsCtrl::ReadInto(Link& link) const
{
    using Mode = decltype(link.srtMode);
    using Profile = decltype(link.profile);
    link.srtMode = static_cast<Mode>(std::max(0, m_srtMode->currentIndex()));
    link.latencyMs = m_latency->value();
    link.passphrase = m_passphrase->text().toStdString();
    link.streamId = m_streamId->text().toStdString();
    link.ristListener = m_ristMode->currentIndex() == 1;
    link.profile = m_profile->currentIndex() == 0 ? Profile::Simple : Profile::Main;
    link.bufferMs = m_buffer->value();
    link.secret = m_secret->text().toStdString();
}
