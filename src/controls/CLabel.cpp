#include "controls/CLabel.h"

#include <QEvent>
#include <QPainter>

CLabel::CLabel(QWidget* parent) : QWidget(parent), m_textColor(palette().color(QPalette::WindowText))
{
    // The paint covers the whole label: Qt need not erase behind it first.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void CLabel::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    Redraw();
}

void CLabel::SetTextColor(const QColor& color)
{
    m_textColor = color;
    Redraw();
}

void CLabel::SetBkColor(const QColor& color, const QColor& secondColor, int mode)
{
    m_backgroundColor = color;
    m_secondColor = secondColor;
    m_backgroundMode = mode;
    m_hasCustomBackground = mode == 0;
    Redraw();
}

void CLabel::SetTransparent(bool transparent)
{
    m_transparent = transparent ? 1 : 0;
    // Transparent: the parent repaints what lies behind before the label draws its text.
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent);
    Redraw();
}

QColor CLabel::BackgroundColor() const
{
    return m_hasCustomBackground ? m_backgroundColor : palette().color(QPalette::Button);
}

QSize CLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text) + 8, fontMetrics().height() + 4};
}

void CLabel::Redraw()
{
    ++m_redrawCount;
    update();
}

void CLabel::paintEvent(QPaintEvent*)
{
    // Qt paints widgets through its own back buffer, so this is the off-screen drawing of the label.
    QPainter painter(this);
    if (m_transparent == 0)
        painter.fillRect(rect(), BackgroundColor());
    painter.setPen(m_textColor);
    painter.setFont(font());
    painter.setClipRect(rect());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, m_text);
}

void CLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The system colours changed: the button face follows them.
    if (event->type() == QEvent::PaletteChange && !m_hasCustomBackground)
        Redraw();
}
