#include "controls/CIpAddressCtrl.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

#include <vector>

namespace
{
constexpr int kFieldCount = 4;

//! The dotted numbers of @p text, each 0..255; empty when any part is not one.
std::vector<int> DottedNumbers(const QString& text)
{
    std::vector<int> numbers;
    for (const QString& part : text.trimmed().split('.'))
    {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || value < 0 || value > 255)
            return {};
        numbers.push_back(value);
    }
    return numbers;
}
} // namespace

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
        field->setContextMenuPolicy(Qt::DefaultContextMenu);
        field->installEventFilter(this);
        const int index = static_cast<int>(i);
        // Three digits typed at the end move on to the next field.
        connect(field, &QLineEdit::textEdited, this, [this, index, field](const QString& text) {
            m_autoAdvancedTo = -1;
            if (text.size() == 3 && field->cursorPosition() == 3 && index + 1 < kFieldCount)
            {
                MoveTo(index + 1, true);
                m_autoAdvancedTo = index + 1;
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

bool CIpAddressCtrl::PasteText(int index, const QString& text)
{
    const std::vector<int> numbers = DottedNumbers(text);
    const int count = static_cast<int>(numbers.size());
    if (count == kFieldCount)
        index = 0; // a whole address is the whole address, wherever it lands
    else if (count < 2 || index < 0 || index + count > kFieldCount)
        return false;
    for (int i = 0; i < count; ++i)
        m_fields[static_cast<std::size_t>(index + i)]->setText(QString::number(numbers[static_cast<std::size_t>(i)]));
    m_autoAdvancedTo = -1;
    MoveTo(index + count - 1, false, true);
    return true;
}

int CIpAddressCtrl::IndexOf(const QObject* field) const
{
    for (int i = 0; i < kFieldCount; ++i)
        if (m_fields[static_cast<std::size_t>(i)] == field)
            return i;
    return -1;
}

void CIpAddressCtrl::MoveTo(int index, bool selectAll, bool atEnd)
{
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll)
        field->selectAll();
    else
        field->setCursorPosition(atEnd ? static_cast<int>(field->text().size()) : 0);
}

QString CIpAddressCtrl::DigitsTypedUpTo(int index) const
{
    if (GetAddress() == 0)
        return {}; // 0.0.0.0 is the empty address
    QString digits;
    for (int i = 0; i < kFieldCount; ++i)
    {
        const QLineEdit* field = m_fields[static_cast<std::size_t>(i)];
        if (i < index)
            digits += field->text();
        else if (i == index) // what stays of it when the key is typed
            digits += field->text().left(field->hasSelectedText() ? field->selectionStart() : field->cursorPosition());
        else if (!field->text().isEmpty() && field->text() != QStringLiteral("0"))
            return {};
    }
    return digits;
}

bool CIpAddressCtrl::OnFieldKey(int index, const QKeyEvent* key)
{
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    const bool afterAutoAdvance = m_autoAdvancedTo == index;
    m_autoAdvancedTo = -1;
    if (key->matches(QKeySequence::Paste) && QGuiApplication::clipboard()->text().contains(':'))
    {
        emit Ipv6Typed(QGuiApplication::clipboard()->text().trimmed());
        return true;
    }
    const QString typed = key->text();
    const bool command = (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
    if (!command && typed.size() == 1 &&
        (typed == QStringLiteral(":") || typed == QStringLiteral("[") ||
         QStringLiteral("abcdefABCDEF").contains(typed)))
    {
        emit Ipv6Typed(typed == QStringLiteral("[") ? QString() : DigitsTypedUpTo(index) + typed);
        return true;
    }
    if (key->matches(QKeySequence::Paste))
    {
        // A single number goes the usual way, through the field's validator;
        // dotted text that is no address changes nothing.
        const QString text = QGuiApplication::clipboard()->text();
        if (!text.contains('.'))
            return false;
        PasteText(index, text);
        return true;
    }
    const bool plain = (key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) == 0;
    if (!plain)
        return false;
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
    switch (key->key())
    {
    case Qt::Key_Period:
        // The third digit has moved on already: this dot is that move.
        if (!afterAutoAdvance && index + 1 < kFieldCount && !field->text().isEmpty())
            MoveTo(index + 1, true);
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Left:
        if (atStart && index > 0)
        {
            MoveTo(index - 1, false, true);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (atEnd && index + 1 < kFieldCount)
        {
            MoveTo(index + 1, false, false);
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CIpAddressCtrl::ShowContextMenu(int index, const QPoint& globalPos)
{
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    QMenu* menu = field->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Paste takes whole addresses here as it does from the keyboard.
    if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste")))
    {
        const QString text = QGuiApplication::clipboard()->text();
        if (text.contains('.'))
        {
            disconnect(paste, &QAction::triggered, nullptr, nullptr);
            connect(paste, &QAction::triggered, this, [this, index, text] { PasteText(index, text); });
        }
    }
    menu->popup(globalPos);
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event)
{
    const int index = IndexOf(watched);
    if (index < 0)
        return QWidget::eventFilter(watched, event);
    switch (event->type())
    {
    case QEvent::KeyPress:
        return OnFieldKey(index, static_cast<QKeyEvent*>(event));
    case QEvent::FocusOut:
        if (m_autoAdvancedTo == index)
            m_autoAdvancedTo = -1;
        break;
    case QEvent::ContextMenu:
        ShowContextMenu(index, static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    case QEvent::MouseButtonRelease: {
        // The middle button pastes the selection, as everywhere on the desktop.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (mouse->button() == Qt::MiddleButton && clipboard->supportsSelection())
        {
            const QString text = clipboard->text(QClipboard::Selection);
            if (text.contains('.'))
            {
                PasteText(index, text);
                return true;
            }
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
