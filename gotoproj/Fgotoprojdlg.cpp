#include "gotoproj/Fgotoprojdlg.h"

#include "gotoproj/ProjectSearch.h"
#include "gotoproj/ProjectSearchWorker.h"
#include "gui/Accessibility.h"
#include "gui/DesktopActions.h"
#include "gui/FocusedButtonEnter.h"
#include "gui/QtText.h"
#include "gui/WindowPlacement.h"
#include "text/Strtools.h"
#include "ui_Fgotoprojdlg.h"

#include <QAbstractListModel>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QFile>
#include <QFileIconProvider>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <functional>

TFormGotoProj* FormGotoProj = nullptr;

namespace {

QString PathText(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Watches the whole application while OK waits for a search. Input must not outlive the wait:
// held back, it would reach whatever window has the focus afterwards (the editor opened next, or
// this dialog hidden). Escape, a press on Cancel and a close request of the dialog cancel at once;
// every other key, click or shortcut is dropped.
class InputDuringWait : public QObject {
public:
    InputDuringWait(QDialog& dialog, QWidget& cancelButton, std::function<void()> cancel)
        : FDialog(&dialog)
        , FCancelButton(&cancelButton)
        , FCancel(std::move(cancel))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A window of the window system hands its input on to the widget concerned: judged there.
        if (watched->isWindowType())
            return false;
        switch (event->type()) {
        case QEvent::Close:
            if (FDialog == nullptr || watched != FDialog)
                return false;
            event->ignore(); // the dialog closes through Cancel, not under the wait
            FCancel();
            return true;
        case QEvent::KeyPress:
            if (const auto* key = static_cast<QKeyEvent*>(event);
                key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && Within(watched))
                FCancel();
            return true;
        case QEvent::MouseButtonPress:
            if (FCancelButton != nullptr && watched == FCancelButton
                && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                FCancel();
            return true;
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }

private:
    bool Within(QObject* watched) const
    {
        const auto* widget = qobject_cast<QWidget*>(watched);
        return FDialog != nullptr && widget != nullptr && widget->window() == FDialog;
    }

    QPointer<QDialog> FDialog;
    QPointer<QWidget> FCancelButton;
    std::function<void()> FCancel;
};

} // namespace

// The list's entries as the search found them, bytes unchanged; shown decoded as file names.
class FoundFoldersModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(FEntries.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
            return {};
        return PathText(FEntries[static_cast<size_t>(index.row())]);
    }
    void Replace(std::vector<std::string> entries)
    {
        beginResetModel();
        FEntries = std::move(entries);
        endResetModel();
    }
    const std::vector<std::string>& Entries() const { return FEntries; }

private:
    std::vector<std::string> FEntries;
};

namespace {

// Rows are drawn by the dialog, 20 pixels high.
class FoundFolderDelegate : public QStyledItemDelegate {
public:
    FoundFolderDelegate(TFormGotoProj& form, QObject* parent)
        : QStyledItemDelegate(parent)
        , FForm(form)
    {
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        FForm.ListBox1DrawItem(
            *painter, index.row(), option.rect, option.state.testFlag(QStyle::State_Selected));
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return { option.rect.width(), 20 };
    }

private:
    TFormGotoProj& FForm;
};

} // namespace

TFormGotoProj::TFormGotoProj(
    QWidget* parent, const std::string& driveRoot, FolderListingCache::Access folderAccess)
    : QDialog(parent,
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::TFormGotoProj>())
    , FAnchors(QSize())
{
    ui->setupUi(this);
    EnterPressesFocusedButton(*this);
    SizeLabelsToText(*this);
    EditAmpSN = ui->EditAmpSN;
    ListBox1 = ui->ListBox1;
    ButtonOk = ui->ButtonOk;
    Button2 = ui->Button2;
    ButtonClear = ui->ButtonClear;
    ButtonExtractAmpSnFromClipbrd = ui->ButtonExtractAmpSnFromClipbrd;
    LabelSearchRunning = ui->LabelSearchRunning;
    setWindowIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));

    FAnchors = AnchoredControls(size()); // the client size of the form
    using A = AnchoredControls;
    FAnchors.Add(EditAmpSN, A::Left | A::Top | A::Right);
    FAnchors.Add(ListBox1, A::Left | A::Top | A::Right | A::Bottom);
    FAnchors.Add(ButtonOk, A::Left | A::Bottom);
    FAnchors.Add(Button2, A::Left | A::Bottom);
    FAnchors.Add(LabelSearchRunning, A::Left | A::Right | A::Bottom);
    FAnchors.Add(ButtonClear, A::Top | A::Right);
    FAnchors.Add(ButtonExtractAmpSnFromClipbrd, A::Top | A::Right);

    FModel = new FoundFoldersModel(this);
    ListBox1->setModel(FModel);
    ListBox1->setItemDelegate(new FoundFolderDelegate(*this, ListBox1));
    ListBox1->viewport()->installEventFilter(this);
    EditAmpSN->installEventFilter(this);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    const auto item = [this](const char* name, const QString& caption, void (TFormGotoProj::*handler)()) {
        QAction* action = PopupMenu1->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    MenuItemOpenExplorer
        = item("MenuItemOpenExplorer", tr("Open &Explorer here"), &TFormGotoProj::MenuItemOpenExplorerClick);
    MenuItemOpenCmdLine = item(
        "MenuItemOpenCmdLine", tr("Open Command &Line here"), &TFormGotoProj::MenuItemOpenCmdLineClick);
    PopupMenu1->addSeparator();
    MenuItemCopyText = item("MenuItemCopyText", tr("Copy &Path"), &TFormGotoProj::MenuItemCopyTextClick);
    MenuItemCopyTextQ
        = item("MenuItemCopyTextQ", tr("Copy Path in \"&Quotes\""), &TFormGotoProj::MenuItemCopyTextQClick);
    MenuItemCopyAmpSN = item("MenuItemCopyAmpSN", tr("Copy Project &Number (%1)").arg("..."),
        &TFormGotoProj::MenuItemCopyAmpSNClick);
    PopupMenu1->addSeparator();
    MenuItemShowFileProps
        = item("MenuItemShowFileProps", tr("Folder Properties"), &TFormGotoProj::MenuItemShowFilePropsClick);
    // Alt+1 works while the dialog is open, not only while the menu is.
    MenuItemShowFileProps->setShortcut(QKeySequence(Qt::ALT | Qt::Key_1));
    MenuItemShowFileProps->setShortcutContext(Qt::WindowShortcut);
    addAction(MenuItemShowFileProps);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TFormGotoProj::PopupMenu1Popup);

    connect(EditAmpSN, &QLineEdit::textChanged, this, &TFormGotoProj::EditAmpSNChange);
    connect(ButtonClear, &QPushButton::clicked, this, &TFormGotoProj::ButtonClearClick);
    connect(ButtonExtractAmpSnFromClipbrd, &QPushButton::clicked, this,
        &TFormGotoProj::ButtonExtractAmpSnFromClipbrdClick);
    connect(ListBox1, &QListView::customContextMenuRequested, this, &TFormGotoProj::ListBox1ContextPopup);
    OpenContextMenuByKeyboard(*ListBox1);
    connect(ListBox1->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!FSelectingRow)
            FUserChoiceDuring = FRequestedSearch;
    });
    connect(ButtonOk, &QPushButton::clicked, this, &TFormGotoProj::accept);
    connect(Button2, &QPushButton::clicked, this, &TFormGotoProj::reject);

    // The worker leaves each result in FFound and wakes the window thread through an eventfd:
    // plain locks and a descriptor, nothing shared inside the toolkit. The window drops results
    // of older searches.
    FWake = UniqueFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (FWake) {
        FWakeNotifier = new QSocketNotifier(FWake.get(), QSocketNotifier::Read, this);
        connect(FWakeNotifier, &QSocketNotifier::activated, this, &TFormGotoProj::TakeFound);
    }
    FWorker = std::make_unique<ProjectSearchWorker>(
        driveRoot.empty() ? ProjectDriveRoot() : driveRoot,
        [this](uint64_t search, std::vector<std::string> entries) {
            {
                std::lock_guard<std::mutex> guard(FFoundLock);
                FFound = Found { search, std::move(entries) };
            }
            const uint64_t one = 1;
            if (!FWake || write(FWake.get(), &one, sizeof one) != sizeof one)
                QMetaObject::invokeMethod(this, &TFormGotoProj::TakeFound, Qt::QueuedConnection);
        },
        std::move(folderAccess));
}

void TFormGotoProj::TakeFound()
{
    uint64_t count = 0;
    if (FWake) {
        [[maybe_unused]] const ssize_t drained = ::read(FWake.get(), &count, sizeof count);
    }
    std::optional<Found> found;
    {
        std::lock_guard<std::mutex> guard(FFoundLock);
        found.swap(FFound);
    }
    if (found)
        ShowFound(found->search, std::move(found->entries));
}

TFormGotoProj::~TFormGotoProj()
{
    FormDestroy();
}

void TFormGotoProj::FormDestroy()
{
    // No result can arrive once the worker is gone.
    FWorker.reset();
    delete FWakeNotifier;
    FWakeNotifier = nullptr;
    FWake.reset();
    IconCache.clear();
}

std::string TFormGotoProj::GetSelectedPath() const
{
    const QModelIndexList selected = ListBox1->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return {};
    const auto row = static_cast<size_t>(selected.front().row());
    return row < FModel->Entries().size() ? FModel->Entries()[row] : std::string();
}

std::string TFormGotoProj::GetSelectedProjectNumber() const
{
    return ProjectNumberOfPath(GetSelectedPath());
}

const std::vector<std::string>& TFormGotoProj::Entries() const
{
    return FModel->Entries();
}

void TFormGotoProj::SearchProjectFolders(const std::string& pattern)
{
    FRequestedSearch = FWorker->Search(pattern);
}

void TFormGotoProj::ShowFound(uint64_t search, std::vector<std::string> entries)
{
    if (search != FRequestedSearch)
        return;
    // A search that the focus leaving the field started ends after the click that moved the
    // focus; the click's choice stands when the list is the same.
    const bool keepChoice = FUserChoiceDuring == search && entries == FModel->Entries();
    if (!keepChoice) {
        for (const std::string& path : entries)
            AddFoundFolder(path);
        FSelectingRow = true;
        FModel->Replace(std::move(entries));
        SelectRow(FModel->rowCount() > 0 ? 0 : -1);
    }
    FShownSearch = search;
    LabelSearchRunning->clear();
    emit SearchShown();
}

void TFormGotoProj::AddFoundFolder(const std::string& path)
{
    // The list itself is filled in one step by ShowFound; here the icon for the path's kind.
    const std::string key = ExtensionKey(path);
    if (IconCache.count(key) != 0)
        return;
    const QIcon icon = QFileIconProvider().icon(
        !path.empty() && path.back() == '/' ? QFileIconProvider::Folder : QFileIconProvider::File);
    // A kind without an icon is kept without one, as drawing would keep it: asked once only.
    IconCache[key] = icon.isNull() ? std::nullopt : std::optional<QIcon>(icon);
}

void TFormGotoProj::SelectRow(int row)
{
    FSelectingRow = true;
    if (row < 0)
        ListBox1->selectionModel()->clear();
    else
        ListBox1->setCurrentIndex(FModel->index(row));
    FSelectingRow = false;
}

void TFormGotoProj::ListBox1DrawItem(QPainter& painter, int index, const QRect& rect, bool selected)
{
    if (index < 0 || index >= FModel->rowCount())
        return;
    const QPalette& colours = ListBox1->palette();
    painter.fillRect(rect, selected ? colours.highlight() : colours.base());
    painter.setPen(selected ? colours.highlightedText().color() : colours.text().color());
    const std::string& path = FModel->Entries()[static_cast<size_t>(index)];
    painter.drawText(
        rect.adjusted(22, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, PathText(path));
    const auto cached = IconCache.try_emplace(ExtensionKey(path)).first;
    if (cached->second)
        cached->second->paint(&painter, QRect(rect.left() + 2, rect.top() + 2, 16, 16));
}

void TFormGotoProj::EditAmpSNChange()
{
    SearchProjectFolders(FromQt(EditAmpSN->text()));
}

void TFormGotoProj::ButtonClearClick()
{
    EditAmpSN->setText({});
}

void TFormGotoProj::ButtonExtractAmpSnFromClipbrdClick()
{
    const QString clipboard = QGuiApplication::clipboard()->text();
    EditAmpSN->setText(QString::fromStdString(ExtractProjectNumber(FromQt(clipboard))));
}

void TFormGotoProj::FormActivate()
{
    if (EditAmpSN->text().isEmpty())
        ButtonExtractAmpSnFromClipbrdClick();
}

void TFormGotoProj::ListBox1MouseDown(const QPoint& position)
{
    const QModelIndex index = ListBox1->indexAt(position);
    SelectRow(index.isValid() ? index.row() : -1);
    FUserChoiceDuring = FRequestedSearch;
}

void TFormGotoProj::ListBox1ContextPopup(const QPoint& position)
{
    if (!ListBox1->selectionModel()->hasSelection())
        return;
    PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(position));
}

void TFormGotoProj::ListBox1DblClick()
{
    done(ModalOk);
}

void TFormGotoProj::PopupMenu1Popup()
{
    if (ListBox1->selectionModel()->hasSelection())
        MenuItemCopyAmpSN->setText(
            tr("Copy Project &Number (%1)").arg(QString::fromStdString(GetSelectedProjectNumber())));
}

void TFormGotoProj::MenuItemOpenExplorerClick()
{
    const std::string path = GetSelectedPath();
    if (!path.empty())
        DesktopActions::OpenFolder(this, PathText(FolderPart(path)));
}

void TFormGotoProj::MenuItemOpenCmdLineClick()
{
    const std::string path = GetSelectedPath();
    if (!path.empty())
        DesktopActions::OpenTerminal(this, PathText(FolderPart(path)));
}

void TFormGotoProj::MenuItemCopyTextClick()
{
    const std::string path = GetSelectedPath();
    if (!path.empty())
        QGuiApplication::clipboard()->setText(PathText(path));
}

void TFormGotoProj::MenuItemCopyTextQClick()
{
    const std::string path = GetSelectedPath();
    if (!path.empty())
        QGuiApplication::clipboard()->setText("\"" + PathText(path) + "\"");
}

void TFormGotoProj::MenuItemCopyAmpSNClick()
{
    if (!GetSelectedPath().empty())
        QGuiApplication::clipboard()->setText(QString::fromStdString(GetSelectedProjectNumber()));
}

void TFormGotoProj::MenuItemShowFilePropsClick()
{
    const std::string path = GetSelectedPath();
    if (!path.empty())
        DesktopActions::ShowProperties(this, PathText(TrimText(path)));
}

void TFormGotoProj::SetNextAnswer(int result, const std::string& selectedPath)
{
    FNextAnswer = Answer { result, selectedPath };
}

int TFormGotoProj::exec()
{
    if (!FNextAnswer)
        return QDialog::exec();
    const Answer answer = *FNextAnswer;
    FNextAnswer.reset();
    if (answer.result == ModalOk) {
        // No search on its way may replace the answer: no delivery carries the number 0.
        FRequestedSearch = FShownSearch = 0;
        FModel->Replace(
            answer.path.empty() ? std::vector<std::string>() : std::vector<std::string> { answer.path });
        SelectRow(answer.path.empty() ? -1 : 0);
    }
    setResult(answer.result);
    return answer.result;
}

void TFormGotoProj::accept()
{
    done(ModalOk);
}

void TFormGotoProj::done(int result)
{
    if (FWaitLoop != nullptr) {
        // OK is already waiting; anything but OK given meanwhile cancels the dialog.
        if (result != ModalOk)
            CancelWait();
        return;
    }
    if (result == ModalOk) {
        switch (WaitForSearch()) {
        case WaitEnd::Shown:
            break;
        case WaitEnd::Cancelled:
            result = ModalCancel;
            break;
        case WaitEnd::StillRunning:
            LabelSearchRunning->setText(tr("The search is still running. Press OK again to wait for it."));
            {
                QAccessibleEvent alert(LabelSearchRunning, QAccessible::Alert);
                QAccessible::updateAccessibility(&alert);
            }
            return;
        case WaitEnd::Destroyed:
            return;
        }
    }
    QDialog::done(result);
}

TFormGotoProj::WaitEnd TFormGotoProj::WaitForSearch()
{
    TakeFound();
    if (!SearchPending())
        return WaitEnd::Shown;
    LabelSearchRunning->clear();
    // Timers and the search's own wake-up go on meanwhile; what a scanner types after Enter is
    // not taken as part of this choice (InputDuringWait).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QPointer<TFormGotoProj> alive(this);
    QEventLoop waiting;
    connect(this, &TFormGotoProj::SearchShown, &waiting, &QEventLoop::quit);
    // An owner may delete the dialog from a timer meanwhile.
    connect(this, &QObject::destroyed, &waiting, &QEventLoop::quit);
    QTimer::singleShot(SearchWaitLimitMs, &waiting, &QEventLoop::quit);
    FWaitLoop = &waiting;
    FWaitCancelled = false;
    {
        const InputDuringWait input(*this, *Button2, [this] { CancelWait(); });
        waiting.exec();
    }
    QApplication::restoreOverrideCursor();
    if (alive == nullptr)
        return WaitEnd::Destroyed;
    FWaitLoop = nullptr;
    if (FWaitCancelled)
        return WaitEnd::Cancelled;
    return SearchPending() ? WaitEnd::StillRunning : WaitEnd::Shown;
}

void TFormGotoProj::CancelWait()
{
    FWaitCancelled = true;
    if (FWaitLoop != nullptr)
        FWaitLoop->quit();
}

void TFormGotoProj::reject()
{
    done(ModalCancel);
}

bool TFormGotoProj::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(event);
}

bool TFormGotoProj::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == EditAmpSN && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // Entering and leaving the field within the dialog; a menu opening over it or another
        // window becoming active leaves the dialog's focus where it is.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            EditAmpSNChange();
    } else if (watched == ListBox1->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
            ListBox1MouseDown(position);
            // Below the last item the view has nothing to do; the selection is already cleared.
            if (!ListBox1->indexAt(position).isValid())
                return true;
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            ListBox1DblClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormGotoProj::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    FAnchors.Place(size());
}

void TFormGotoProj::showEvent(QShowEvent* event)
{
    CentreOnOpener(*this);
    QDialog::showEvent(event);
    // Without a window manager no activation arrives; the first showing counts as one.
    FormActivate();
}
