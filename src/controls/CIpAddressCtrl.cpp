#include "controls/CIpAddressCtrl.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (std::size_t i = 0; i < m_fields.size(); ++i)
    {
        if (i > 0)
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("ipField%1").arg(i));
        field->setValidator(new QIntValidator(0, 255, field));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->installEventFilter(this);
        // Three digits move on to the next field, as the address field of the desktop does.
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == 3 && i + 1 < m_fields.size())
            {
                m_fields[i + 1]->setFocus();
                m_fields[i + 1]->selectAll();
            }
        });
        layout->addWidget(field, 1);
        m_fields[i] = field;
    }
    SetAddress(0);
}

void CIpAddressCtrl::SetAddress(std::uint32_t address)
{
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFFu));
}

std::uint32_t CIpAddressCtrl::GetAddress() const
{
    std::uint32_t address = 0;
    for (const QLineEdit* field : m_fields)
    {
        const int value = field->text().toInt();
        address = (address << 8) | static_cast<std::uint32_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
    }
    return address;
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress)
    {
        // A dot moves on to the next field.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Period)
        {
            for (std::size_t i = 0; i + 1 < m_fields.size(); ++i)
                if (watched == m_fields[i])
                {
                    m_fields[i + 1]->setFocus();
                    m_fields[i + 1]->selectAll();
                }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
