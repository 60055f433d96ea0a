#pragma once
//! @file CTabActivateEvent.h
//! What a tab's dialog receives when its tab becomes or stops being the visible
//! one (the activation message of the tab control). A tab dialog handles it in
//! its event(): a shown tab starts its timers and refreshes, a hidden one stops them.

#include <QEvent>

class CTabActivateEvent : public QEvent
{
public:
    explicit CTabActivateEvent(bool active) : QEvent(Type()), m_active(active) {}
    //! The registered event type, the same for the whole program.
    static QEvent::Type Type();
    bool IsActive() const { return m_active; }

private:
    bool m_active;
};
