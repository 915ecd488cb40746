#include "memo/Fmemo.h"

#include "gotoproj/Fgotoprojdlg.h"
#include "gui/CoreTexts.h"
#include "gui/FixedPitchFont.h"
#include "gui/FocusedButtonEnter.h"
#include "gui/KeyboardState.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "gui/WindowPlacement.h"
#include "memo/MemoText.h"
#include "platform/WriteFiles.h"
#include "text/Strtools.h"
#include "ui_Fmemo.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

TFormMemo* FormMemo = nullptr;

namespace {

// "*.*" would leave out files without a dot here; "*" is every file.
const char* const FileFilter = QT_TRANSLATE_NOOP("TFormMemo", "Text Files (*.txt);;All Files (*)");

std::string NativePath(const QString& fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

// Where a file dialog opens: in the folder the project finder just gave (proposing the last file's
// name there), else at the last file, else in its starting folder.
QString StartingPlace(const TFormMemo::TFileDialogState& dialog, bool fromFinder)
{
    if (fromFinder && !dialog.InitialDir.isEmpty()) {
        if (dialog.FileName.isEmpty())
            return dialog.InitialDir;
        return QDir(dialog.InitialDir).filePath(QFileInfo(dialog.FileName).fileName());
    }
    return dialog.FileName.isEmpty() ? dialog.InitialDir : dialog.FileName;
}

} // namespace

TFormMemo::TFormMemo(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::TFormMemo>())
    , FAnchors(QSize(590, 440))
{
    ui->setupUi(this);
    EnterPressesFocusedButton(*this);
    MainMenu1 = ui->MainMenu1;
    Memo1 = ui->Memo1;
    ButtonOk = ui->ButtonOk;
    ButtonCancel = ui->ButtonCancel;
    Open1 = ui->Open1;
    Saveas1 = ui->Saveas1;
    Copyall1 = ui->Copyall1;
    Pasteover1 = ui->Pasteover1;
    Clear1 = ui->Clear1;

    UseFixedPitchFont(*Memo1);

    // The menu bar above the client area, which is the form's 590 x 440.
    ui->LayoutWindow->removeWidget(MainMenu1);
    ui->LayoutWindow->setMenuBar(MainMenu1);
    resize(590, 440 + MainMenu1->sizeHint().height());
    using A = AnchoredControls;
    FAnchors.Add(Memo1, A::Left | A::Top | A::Right | A::Bottom);
    FAnchors.Add(ButtonOk, A::Left | A::Bottom);
    FAnchors.Add(ButtonCancel, A::Left | A::Bottom);
    ui->ClientArea->installEventFilter(this);
    Memo1->installEventFilter(this);

    connect(ButtonOk, &QPushButton::clicked, this, &TFormMemo::accept);
    connect(ButtonCancel, &QPushButton::clicked, this, &TFormMemo::reject);
    connect(Open1, &QAction::triggered, this, &TFormMemo::Open1Click);
    connect(Saveas1, &QAction::triggered, this, &TFormMemo::Saveas1Click);
    connect(Copyall1, &QAction::triggered, this, &TFormMemo::Copyall1Click);
    connect(Pasteover1, &QAction::triggered, this, &TFormMemo::Pasteover1Click);
    connect(Clear1, &QAction::triggered, this, &TFormMemo::Clear1Click);
}

TFormMemo::~TFormMemo() = default;

void TFormMemo::accept()
{
    done(ModalOk);
}

void TFormMemo::reject()
{
    done(ModalCancel);
}

bool TFormMemo::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(event);
}

bool TFormMemo::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->ClientArea && event->type() == QEvent::Resize)
        FAnchors.Place(ui->ClientArea->size());
    // Tab types a tab character in the memo; Ctrl+Tab (with Shift: backwards) leaves it.
    if (watched == Memo1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && (key->modifiers() & Qt::ControlModifier) != 0) {
            focusNextPrevChild(key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier) == 0);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormMemo::showEvent(QShowEvent* event)
{
    CentreOnOpener(*this);
    QDialog::showEvent(event);
    // Without a window manager no activation comes; the focus belongs to the memo all the same.
    FormActivate();
}

void TFormMemo::FormActivate()
{
    Memo1->setFocus(Qt::ActiveWindowFocusReason);
}

// The document's own text, line by line: its plain-text export would turn no-break spaces into
// blanks and so change the bytes.
QString TFormMemo::ShownText() const
{
    QStringList lines;
    for (QTextBlock block = Memo1->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines.join('\n');
}

void TFormMemo::ShowText(const QString& text)
{
    QString lines = text;
    lines.replace("\r\n", "\n").replace('\r', '\n');
    Memo1->setPlainText(lines);
}

std::string TFormMemo::Text() const
{
    return EncodeFileText(ShownText().toUtf8().toStdString(), FLatin1);
}

void TFormMemo::SetText(const std::string& bytes)
{
    const TEditorText text = DecodeFileText(bytes);
    FLatin1 = text.Latin1;
    ShowText(ToQt(text.Utf8));
}

bool TFormMemo::LoadFromFile(const std::string& path, int& error)
{
    std::string bytes;
    error = LoadRegularFile(path.c_str(), EditorFileLimit, bytes);
    if (error != 0)
        return false;
    SetText(bytes);
    return true;
}

bool TFormMemo::SaveToFile(const std::string& path, int& error) const
{
    // Opening a FIFO for writing waits for a reader, and a device is no place for the text.
    error = platform::ReplaceFileBytes(path, Text(), platform::TStreamTarget::Refuse);
    return error == 0;
}

// With Ctrl held, the project finder chooses the file dialog's starting folder first; false when
// it was not closed with OK.
bool TFormMemo::AskProjectFolder(TFileDialogState& dialog, bool& fromFinder)
{
    fromFinder = false;
    if (!ControlKeyHeld() || FormGotoProj == nullptr)
        return true;
    if (FormGotoProj->exec() != TFormGotoProj::ModalOk)
        return false;
    dialog.InitialDir = QFile::decodeName(FormGotoProj->GetSelectedPath().c_str());
    fromFinder = true;
    return true;
}

void TFormMemo::Open1Click()
{
    FileCommand(false);
}

void TFormMemo::Saveas1Click()
{
    FileCommand(true);
}

// Open and Save as: the same steps with the two dialogs' roles exchanged.
void TFormMemo::FileCommand(bool save)
{
    TFileDialogState& own = save ? SaveDialog1 : OpenDialog1;
    TFileDialogState& other = save ? OpenDialog1 : SaveDialog1;
    bool fromFinder = false;
    if (!AskProjectFolder(own, fromFinder))
        return;
    const QString place = StartingPlace(own, fromFinder);
    const QString chosen = save ? UserDialogs::SaveFileName(
                               this, tr("Save As"), place, tr(FileFilter), QFileDialog::DontConfirmOverwrite)
                                : UserDialogs::OpenFileName(this, tr("Open"), place, tr(FileFilter));
    if (chosen.isEmpty())
        return;
    own.FileName = chosen;
    int error = 0;
    if (save ? !SaveToFile(NativePath(chosen), error) : !LoadFromFile(NativePath(chosen), error)) {
        const QString message
            = save ? tr("Cannot create file \"%1\". %2") : tr("Cannot open file \"%1\". %2");
        const std::string reason = save ? LoadErrorText(error) : EditorLoadErrorText(error);
        UserDialogs::Error(this, tr("Error"), message.arg(chosen, TranslatedCoreText(reason)));
        return;
    }
    other.FileName = chosen;
}

void TFormMemo::Copyall1Click()
{
    QGuiApplication::clipboard()->setText(ShownText());
}

void TFormMemo::Pasteover1Click()
{
    // Anything but text on the clipboard reads as the empty text.
    ShowText(QGuiApplication::clipboard()->text());
}

void TFormMemo::Clear1Click()
{
    Memo1->clear();
}
