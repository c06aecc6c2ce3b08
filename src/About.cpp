#include "About.h"

#include "FormServices.h"
#include "MainUnit.h"
#include "StaticText.h"
#include "Version.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

TAboutDlg::TAboutDlg(TFormServices& services, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      m_services(services)
{
    setupUi(this);
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);
    setFixedSize(292, 127);
    setWindowIcon(QIcon(QStringLiteral(":/lodrin/lodrin.ico")));

    ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/lodrin/lodrin.png")));
    ProgramIcon->adjustSize();
    Label1->setText(QStringLiteral("Lodrin Version ") + QString::fromUtf8(kFileVersion));
    Label2->setText(QString::fromUtf8(kLegalCopyright));
    Label1->adjustSize();
    Label2->adjustSize();

    QFont linkFont(QStringLiteral("Noto Sans CJK JP"));
    linkFont.setPixelSize(12);
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    QPalette linkPalette = stAddress->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    for (TStaticText* link : {stAddress, stURL}) {
        link->setFont(linkFont);
        link->setPalette(linkPalette);
        link->setCursor(Qt::PointingHandCursor);
        link->setTextFormat(Qt::PlainText);
        connect(link, &TStaticText::clicked, this, [this, link] { stAddressClick(link); });
    }
    stAddress->setText(QString::fromLatin1(kMailLink));
    stURL->setText(QString::fromLatin1(kHomeLink));
    // A link label always shows its whole target.
    for (TStaticText* link : {stAddress, stURL})
        link->resize(std::max(link->width(), link->sizeHint().width()), link->height());

    // OK is both the default and the cancel button: every way out ends the dialog alike.
    connect(OKButton, &QPushButton::clicked, this, &QDialog::reject);
    OKButton->setFocus();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAboutDlg::stAddressClick(QObject* sender)
{
    if (auto* link = qobject_cast<TStaticText*>(sender))
        m_services.OpenLink(link->text());
}

TAboutDlg* AboutDlg = nullptr;

void TMainForm::AboutBtnClick()
{
    TAboutDlg dialog(*m_services, this);
    AboutDlg = &dialog;
    m_services->ExecDialog(dialog);
    AboutDlg = nullptr;
}
