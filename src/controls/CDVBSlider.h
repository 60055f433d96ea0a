#pragma once
//! @file CDVBSlider.h
//! The Play tab's position slider: it knows while the user drags it, and tells
//! its owner when the mouse button is released so that the play position jumps.

#include <QSlider>

class CDVBSlider : public QSlider
{
    Q_OBJECT

public:
    explicit CDVBSlider(QWidget* parent = nullptr);

    //! True while the left mouse button is held down on the slider.
    bool IsDragging() const { return m_dragging != 0; }

signals:
    //! The released-capture notification: the user let go of the slider.
    void ReleasedCapture();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int m_dragging = 0;
};
