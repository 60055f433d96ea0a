#include "controls/CRunState.h"

void CRunState::Report(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    emit Changed(text);
}
