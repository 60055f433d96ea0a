#pragma once
//! @file CRunState.h
//! A tab's run state as the main window shows it in its status bar and event
//! log ("Playing", "Recording rec-3.ts", "Stopped"...): each change is
//! reported once, a state that stays is not reported again.

#include <QObject>
#include <QString>

class CRunState : public QObject
{
    Q_OBJECT

public:
    explicit CRunState(QObject* parent = nullptr) : QObject(parent) {}

    //! Takes @p text as the state already shown, reporting nothing.
    void Reset(const QString& text) { m_text = text; }
    //! Reports @p text (Changed) when it differs from the state shown.
    void Report(const QString& text);

signals:
    void Changed(const QString& text);

private:
    QString m_text;
};
