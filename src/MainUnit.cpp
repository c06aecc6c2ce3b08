#include "MainUnit.h"

#include "LogPane.h"
#include "Messages.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

bool IsConnected = false;
bool IsBusy = false;
bool AbortRequested = false;

TMainForm::TMainForm(TStartInfo start, std::unique_ptr<TFormServices> services, QWidget* parent)
    : QWidget(parent), m_start(std::move(start)), m_services(std::move(services))
{
    setupUi(this);
    m_queue = std::make_unique<TUploadQueue>(cbUploadFile);

    // The window's own font and the upload box's Japanese font, at the design's 12 pixels.
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);
    QFont listFont(QStringLiteral("Noto Sans CJK JP"));
    listFont.setPixelSize(12);
    cbUploadFile->setFont(listFont);
    // Completion in the upload box compares paths as the file system does.
    if (QCompleter* completer = cbUploadFile->completer())
        completer->setCaseSensitivity(NativePathStyle() == PathStyle::Posix ? Qt::CaseSensitive
                                                                            : Qt::CaseInsensitive);
    edPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    for (QLabel* label : findChildren<QLabel*>())
        label->adjustSize();
    setFixedSize(473, 409);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    m_log = new TLogPane(reLog, this);

    IdFTP1.Intercept = &IdLogEvent1;
    IdFTP1.AntiFreeze = &IdAntiFreeze1;
    IdFTP1.RecvBufferSize = 8196;
    IdFTP1.SendBufferSize = 8196;
    IdAntiFreeze1.IdleTimeOut = 50;
    IdAntiFreeze1.OnlyWhenIdle = false;
    IdAntiFreeze1.OnProcess = [] { QCoreApplication::processEvents(); };
    IdLogEvent1.Active = true;
    IdLogEvent1.LogTime = false;
    IdLogEvent1.ReplaceCRLF = false;

    OpenDialog1.Title = QStringLiteral("アップロードするファイル");
    OpenDialog1.Filter = QStringLiteral("HTMLﾌｧｲﾙ(*.htm*)|*.htm*|全てのファイル(*.*)|*.*");
    OpenDialog1.Options = TOpenDialog::ofHideReadOnly | TOpenDialog::ofAllowMultiSelect;

    BindHandlers();
    Guarded([this] { FormCreate(); });
}

TMainForm::~TMainForm()
{
    disconnect(m_idleConnection);
}

void TMainForm::BindHandlers()
{
    connect(CloseBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { CloseBtnClick(); }); });
    connect(NewWindowBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { NewWindowBtnClick(); }); });
    connect(AboutBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { AboutBtnClick(); }); });

    // The mapping follows the current file (typed, or picked from the list) and both tops.
    const auto mapping = [this] { Guarded([this] { cbUploadFileChange(); }); };
    connect(cbUploadFile, &QComboBox::editTextChanged, this, mapping);
    connect(cbUploadFile, &QComboBox::activated, this, mapping);
    connect(edLocalHomeDir, &QLineEdit::textChanged, this, mapping);
    connect(edHostHomeDir, &QLineEdit::textChanged, this, mapping);
    connect(RefBtn, &QPushButton::clicked, this, [this] { Guarded([this] { RefBtnClick(); }); });
    connect(ClearBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { ClearBtnClick(); }); });
    connect(refUpLoadFileBtn, &QPushButton::clicked, this,
            [this] { Guarded([this] { refUpLoadFileBtnClick(); }); });
}

void TMainForm::InstallApplicationHandlers()
{
    m_idleConnection =
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { Guarded([this] { ApplicationIdle(); }); });
    m_handlersInstalled = true;
}

void TMainForm::HandleEscapedException(const std::exception& e)
{
    if (m_handlersInstalled) {
        ApplicationException(e);
        return;
    }
    TMessageBoxRequest request;
    request.Text = QString::fromUtf8(e.what());
    request.Caption = QStringLiteral("Lodrin ");
    m_services->MessageBox(this, request);
}

void TMainForm::AddLog(const QString& text)
{
    if (m_log)
        m_log->Append(text);
}

QStringList TMainForm::LogLines() const
{
    m_log->Flush();
    return reLog->toPlainText().split(QLatin1Char('\n'));
}

bool TMainForm::event(QEvent* e)
{
    if (Dispatch(e))
        return true;
    return QWidget::event(e);
}

bool TMainForm::Dispatch(QEvent* e)
{
    if (e->type() == TCopyDataEvent::EventType()) {
        auto* message = static_cast<TCopyDataEvent*>(e);
        message->Result = 0;
        Guarded([&] { message->Result = WMCopyData(message->Data) ? 1 : 0; });
        return true;
    }
    if (e->type() == TDropFilesEvent::EventType()) {
        auto* message = static_cast<TDropFilesEvent*>(e);
        Guarded([&] { WMDropFiles(message->Paths); });
        return true;
    }
    return false;
}

void TMainForm::closeEvent(QCloseEvent* e)
{
    bool closed = false;
    Guarded([&] {
        FormClose();
        closed = true;
    });
    if (closed)
        e->accept();
    else
        e->ignore();
}

void TMainForm::keyPressEvent(QKeyEvent* e)
{
    // Keys that no control took: Enter is the default button's, Esc the cancel button's.
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier) {
            if (UploadBtn->isEnabled())
                UploadBtn->click();
            e->accept();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (e->modifiers() == Qt::NoModifier) {
            CloseBtn->click();
            e->accept();
            return;
        }
        break;
    default:
        break;
    }
    QWidget::keyPressEvent(e);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* e)
{
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* e)
{
    QStringList paths;
    for (const QUrl& url : e->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    e->acceptProposedAction();
    TDropFilesEvent message(paths);
    Dispatch(&message);
}
