#pragma once

#include "ui_About.h"

#include <QDialog>

class TFormServices;

// The version dialog: the program icon, name and version, the copyright notice and two links.
class TAboutDlg : public QDialog, private Ui::TAboutDlg
{
    Q_OBJECT
public:
    static constexpr char kMailLink[] = "mailto:dev@example.org";
    static constexpr char kHomeLink[] = "https://example.org/lodrin/";

    TAboutDlg(TFormServices& services, QWidget* owner);

    // Opens the clicked link label's displayed text; the dialog stays open.
    void stAddressClick(QObject* sender);

private:
    TFormServices& m_services;
};

// The dialog while it is shown, null otherwise.
extern TAboutDlg* AboutDlg;
