#include "controls/CTabActivateEvent.h"

QEvent::Type CTabActivateEvent::Type()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
