#pragma once
//! @file CIpAddressCtrl.h
//! The IPv4 address field as users know it: four number fields (0..255)
//! separated by dots. The value is 32-bit with the first dotted number in the
//! most significant byte, as the settings and the sender take it; an empty
//! field counts as 0.

#include <QWidget>

#include <array>
#include <cstdint>

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::array<QLineEdit*, 4> m_fields{};
};
