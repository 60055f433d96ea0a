#pragma once
//! @file CIpAddressCtrl.h
//! The IPv4 address field as users know it: four number fields (0..255)
//! separated by dots. The value is 32-bit with the first dotted number in the
//! most significant byte, as the settings and the sender take it; an empty
//! field counts as 0.
//!
//! Typing: a third digit moves on to the next field, and a dot typed right
//! after that move is taken as already done; a dot elsewhere moves on too.
//! Backspace or Left at the start of a field goes back to the previous one,
//! Right at its end to the next. Pasting a whole address (keyboard, context
//! menu or middle button) fills all four fields; "a.b" pasted into a field
//! fills that field and the next.
//!
//! IPv6: a colon, a bracket or a hex letter typed, or text with a colon
//! pasted, is no IPv4 address: the field hands it over (Ipv6Typed) with the
//! digits typed before it, so that the owner can switch to an IPv6 field.

#include <QWidget>

#include <array>
#include <cstdint>

class QKeyEvent;
class QLineEdit;

class CIpAddressCtrl : public QWidget
{
    Q_OBJECT

public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    void SetAddress(std::uint32_t address);
    std::uint32_t GetAddress() const;
    //! The four fields, first dotted number first.
    QLineEdit* Field(int index) const { return m_fields[static_cast<std::size_t>(index)]; }

    //! Fills the fields from @p text ("a.b.c.d", or dotted numbers from field
    //! @p index on); false, and nothing changed, when @p text does not fit.
    bool PasteText(int index, const QString& text);

signals:
    //! The user began an IPv6 address: @p text is what was typed or pasted so far ("2001:").
    void Ipv6Typed(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int IndexOf(const QObject* field) const;
    void MoveTo(int index, bool selectAll, bool atEnd = false);
    bool OnFieldKey(int index, const QKeyEvent* key);
    void ShowContextMenu(int index, const QPoint& globalPos);
    //! The digits typed into fields 0 .. @p index (up to the cursor) when the
    //! fields after it are empty or 0 (an address being typed); empty otherwise.
    QString DigitsTypedUpTo(int index) const;

    std::array<QLineEdit*, 4> m_fields{};
    int m_autoAdvancedTo = -1; // the field a third digit just moved to; a dot there does nothing
};
