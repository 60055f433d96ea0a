#include "controls/CButtonStyle.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace
{
constexpr int kCaptionRightInsetPx = 4;

void DrawFrame(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    painter.setPen(topLeft);
    painter.drawLine(r.left(), r.top(), r.right(), r.top());
    painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
    painter.setPen(bottomRight);
    painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
}
} // namespace

CButtonStyle::CButtonStyle(QWidget* parent) : QPushButton(parent)
{
    setFlat(true);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
}

void CButtonStyle::SetIcons(const QIcon& normal, const QIcon& active)
{
    m_normalIcon = normal;
    m_activeIcon = active;
    update();
}

void CButtonStyle::SetTextColors(const QColor& normal, const QColor& hover)
{
    m_normalTextColor = normal;
    m_hoverTextColor = hover;
    update();
}

void CButtonStyle::SetLatching(bool latching)
{
    m_latching = latching;
    update();
}

void CButtonStyle::SetPressed(bool pressed)
{
    if (m_pressed == pressed)
        return;
    m_pressed = pressed;
    update();
}

QSize CButtonStyle::sizeHint() const
{
    const int icon = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const int textWidth = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text()) + 8;
    return {icon + 2 + textWidth, icon + 5};
}

void CButtonStyle::SetHover(bool hover)
{
    if (m_hover == hover)
        return;
    m_hover = hover;
    update();
}

void CButtonStyle::enterEvent(QEnterEvent* event)
{
    SetHover(true);
    QPushButton::enterEvent(event);
}

void CButtonStyle::mouseMoveEvent(QMouseEvent* event)
{
    SetHover(true);
    QPushButton::mouseMoveEvent(event);
}

void CButtonStyle::leaveEvent(QEvent* event)
{
    SetHover(false);
    QPushButton::leaveEvent(event);
}

int CButtonStyle::DrawState() const
{
    const bool pressed = m_pressed || (!m_latching && isDown());
    return (m_hover ? 1 : 0) + (pressed ? 2 : 0);
}

bool CButtonStyle::ShowsFocus() const
{
    return hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void CButtonStyle::nextCheckState()
{
    // Called by every completed click, just before the owner hears of it.
    if (m_latching)
    {
        m_pressed = !m_pressed;
        update();
    }
}

void CButtonStyle::keyPressEvent(QKeyEvent* event)
{
    // Enter clicks as Space does (Space is the push button's own).
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == 0)
    {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void CButtonStyle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect item = rect();
    const int state = DrawState();
    const bool pressed = state >= 2;
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const QIcon& icon = state == 0 ? m_normalIcon : m_activeIcon;
    const QPoint iconAt = pressed ? QPoint(1, 4) : QPoint(0, 3);
    if (!icon.isNull())
        icon.paint(&painter, QRect(iconAt, QSize(iconSize, iconSize)));

    QRect caption = item.adjusted(0, 0, -kCaptionRightInsetPx, 0);
    if (pressed)
        caption.translate(1, 1);
    // A disabled button's caption is greyed like any other control's.
    painter.setPen(!isEnabled() ? palette().color(QPalette::Disabled, QPalette::ButtonText)
                   : m_hover    ? m_hoverTextColor
                                : m_normalTextColor);
    painter.setFont(font());
    painter.drawText(caption, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, text());

    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    if (state == 1)
        DrawFrame(painter, item, light, shadow); // raised
    else if (pressed)
        DrawFrame(painter, item, shadow, light); // sunken

    if (ShowsFocus())
    {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = item.adjusted(2, 2, -2, -2);
        focus.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}
