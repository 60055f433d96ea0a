#include "controls/CDVBSlider.h"

#include <QMouseEvent>

CDVBSlider::CDVBSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void CDVBSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = 1;
    QSlider::mousePressEvent(event);
}

void CDVBSlider::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasLeft = event->button() == Qt::LeftButton;
    if (wasLeft)
        m_dragging = 0;
    // The owner reads the final position first, then the slider handles the release.
    if (wasLeft)
        emit ReleasedCapture();
    QSlider::mouseReleaseEvent(event);
}
