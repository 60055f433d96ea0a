#pragma once
//! @file CUpDownButton.h
//! A pair of arrow buttons without a buddy field: each press reports a step of
//! +1 (up) or -1 (down) and leaves the counting to the owner, which keeps the
//! value and its range itself (the Record tab's loop count).

#include <QWidget>

class QToolButton;

class CUpDownButton : public QWidget
{
    Q_OBJECT

public:
    explicit CUpDownButton(QWidget* parent = nullptr);

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

signals:
    //! One arrow was pressed: +1 up, -1 down.
    void DeltaPos(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};
