#pragma once
//! @file CLabel.h
//! The coloured text field of the Play and Record tabs: one line of text,
//! centred and clipped, in a chosen colour on a solid background (the chosen
//! colour, or the system's button face) or on the parent's background when
//! transparent. The status timers set it often: an equal text is not repainted,
//! and painting is double-buffered so it never flickers.

#include <QColor>
#include <QString>
#include <QWidget>

class CLabel : public QWidget
{
    Q_OBJECT

public:
    explicit CLabel(QWidget* parent = nullptr);

    //! Stores and repaints @p text unless it equals the current one (case-sensitive).
    void SetText(const QString& text);
    QString GetText() const { return m_text; }
    void SetTextColor(const QColor& color);
    QColor GetTextColor() const { return m_textColor; }
    //! A solid background of @p color (mode 0, the only one in use); @p secondColor is kept for the record.
    void SetBkColor(const QColor& color, const QColor& secondColor = QColor(0, 0, 0), int mode = 0);
    //! True: no background of its own; the parent's shows through.
    void SetTransparent(bool transparent);
    bool IsTransparent() const { return m_transparent != 0; }
    //! The colour the background is painted with (the custom one or the button face).
    QColor BackgroundColor() const;
    //! How many redraws the label has asked for, for the record.
    int RedrawCount() const { return m_redrawCount; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Redraw();

    QColor m_textColor;
    bool m_hasCustomBackground = false;
    QString m_text;
    int m_transparent = 0;
    int m_backgroundMode = 0;
    QColor m_secondColor{0, 0, 0};
    QColor m_backgroundColor{0, 0, 0};
    int m_redrawCount = 0;
};
