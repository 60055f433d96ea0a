#pragma once
//! @file CButtonStyle.h
//! The flat icon button of the Play and Record tabs: an icon and an optional
//! right-aligned caption, a raised frame while the mouse is over it, a sunken
//! frame and a one-pixel shift while pressed. A latching button (Loop, Play,
//! Stop...) flips its pressed state on every completed click (the mouse
//! released over it, Space or Enter) and keeps it, so a press dragged off the
//! button changes nothing; the owner's SetPressed has the last word, and the
//! look always shows that state. A double click counts as two clicks. The
//! keyboard focus shows as the style's focus frame. The background is the dialog's.

#include <QColor>
#include <QIcon>
#include <QPushButton>

class CButtonStyle : public QPushButton
{
    Q_OBJECT

public:
    explicit CButtonStyle(QWidget* parent = nullptr);

    //! The owning dialog sets these after creating its controls; each repaints.
    void SetIcons(const QIcon& normal, const QIcon& active);
    void SetTextColors(const QColor& normal, const QColor& hover);
    void SetLatching(bool latching);
    void SetPressed(bool pressed);

    bool IsPressed() const { return m_pressed; }
    bool IsHover() const { return m_hover; }
    bool IsLatching() const { return m_latching; }
    //! The drawing state: hover + 2 x pressed (0 idle, 1 over, 2 pressed, 3 pressed and over).
    //! A latching button looks pressed when latched; any other while held down.
    int DrawState() const;
    //! Whether the focus frame is drawn: focused, and the focus came by keyboard.
    bool ShowsFocus() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void nextCheckState() override;

private:
    void SetHover(bool hover);

    bool m_pressed = false;
    bool m_hover = false;
    bool m_latching = false;
    QIcon m_normalIcon;
    QIcon m_activeIcon;
    QColor m_normalTextColor{255, 255, 255};
    QColor m_hoverTextColor{255, 255, 255};
};
