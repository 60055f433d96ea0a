#pragma once
//! @file IUiServices.h
//! Everything the windows ask of the desktop that would block a test or leave the
//! program: message boxes, file dialogs, opening a web page, starting a process.
//! The program uses CUiServices; tests install a recording stand-in with
//! SetUiServices so that no test ever waits on a modal box.

#include <QString>
#include <QStringList>

class QUrl;
class QWidget;

class IUiServices
{
public:
    enum class Icon
    {
        kInformation,
        kWarning,
        kError,
    };

    virtual ~IUiServices() = default;

    //! A message with an OK button.
    virtual void ShowMessage(QWidget* parent, const QString& caption, const QString& text, Icon icon) = 0;
    //! A Yes/No question with the warning icon, No the default button; true only for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
    //! File dialogs; an empty result means the user cancelled.
    virtual QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                    const QString& filter) = 0;
    virtual QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& directory,
                                    const QString& filter) = 0;
    //! The desktop's default action for @p url (a device's web page, a report file).
    virtual bool OpenUrl(const QUrl& url) = 0;
    //! Starts @p program with @p arguments, without a shell and without waiting.
    virtual bool StartDetached(const QString& program, const QStringList& arguments) = 0;
};

//! The services in use (CUiServices unless a test installed its own).
IUiServices& UiServices();
//! Installs @p services (not owned; null restores the default) and returns the previous one.
IUiServices* SetUiServices(IUiServices* services);
