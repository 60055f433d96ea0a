#include "controls/CUpDownButton.h"

#include <QToolButton>

CUpDownButton::CUpDownButton(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    m_up->setObjectName("upArrow");
    m_down->setObjectName("downArrow");
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setAutoRepeat(true);
    m_down->setAutoRepeat(true);
    m_up->setAutoRaise(true);
    m_down->setAutoRaise(true);
    connect(m_up, &QToolButton::clicked, this, [this] { emit DeltaPos(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { emit DeltaPos(-1); });
}

void CUpDownButton::resizeEvent(QResizeEvent* event)
{
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
    QWidget::resizeEvent(event);
}
