#pragma once
//! @file COrvaneApp.h
//! The application object: sets up the settings profile and failed-allocation
//! reports, offers the problem report of a previous crash, then runs the main
//! window until it closes.

#include <QApplication>

class COrvaneApp : public QApplication
{
    Q_OBJECT

public:
    COrvaneApp(int& argc, char** argv);

    //! Runs the program; returns false in every normal case (the process then ends).
    bool InitInstance();

    //! Where problem reports are written: the user's data directory for Orvane.
    static QString ReportDirectory();
    //! Offers, once, to show the problem report an earlier run left in @p directory.
    //! @return true when there was one.
    static bool OfferPendingReport(const QString& directory);
};
