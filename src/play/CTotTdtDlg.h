#pragma once
//! @file CTotTdtDlg.h
//! "TOT / TDT Adaptation": the time the adapted stream starts with: the file's
//! own TDT/TOT time (type 0), the current time (1) or a chosen local date and
//! time (2). OK gives a time type and an offset in seconds; for type 2 the
//! offset is measured from the moment the dialog was opened, so it does not
//! depend on how long the dialog stayed open. Closing it cancels.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>

namespace Ui
{
class CTotTdtDlg;
}
class QDateEdit;
class QRadioButton;
class QTimeEdit;

class CTotTdtDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr const char* kExplanation =
        "If activated, the TOT and TDT adaptation starts with the selected time.\n"
        "When the file loops, adaptation continues with that time sequence.";

    //! Seconds since 1970 UTC; tests replace it to pin the opening time.
    using NowFn = std::function<std::int64_t()>;

    CTotTdtDlg(int timeType, std::int64_t timeOffset, QWidget* parent = nullptr, NowFn now = {});
    ~CTotTdtDlg() override;

    //! The TDT/TOT time found in the file (s since 1970), shown for type 0; set before showing.
    void SetFileTime(std::int64_t fileTime) { m_fileTime = fileTime; }
    int TimeType() const { return m_timeType; }
    std::int64_t TimeOffset() const { return m_timeOffset; }
    std::int64_t OpeningTime() const { return m_openingTime; }

    QRadioButton* TypeButton(int timeType) const;
    QDateEdit* DatePicker() const;
    QTimeEdit* TimePicker() const;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SetToolTips();
    void OnInitDialog();
    void OnTypeClicked(int timeType);
    void ShowTime();

    std::int64_t m_timeOffset;
    int m_timeType;
    std::int64_t m_fileTime = 0;
    std::int64_t m_openingTime = 0;
    bool m_initialised = false;
    NowFn m_now;
    std::unique_ptr<Ui::CTotTdtDlg> m_ui;
};
