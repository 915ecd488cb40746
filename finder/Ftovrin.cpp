#include "finder/Ftovrin.h"

#include "comm/SocketHelpers.h"
#include "finder/FtovrinListModel.h"
#include "gui/Accessibility.h"
#include "gui/Announcer.h"
#include "gui/AmplifierIcon.h"
#include "gui/CoreTexts.h"
#include "gui/QtText.h"
#include "gui/SelectionColours.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fselipaddr.h"
#include "platform/HostInfo.h"
#include "platform/LocalInterfaces.h"
#include "ui_Ftovrin.h"

#include <arpa/inet.h>

#include <algorithm>
#include <optional>

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

TFormTovrin* FormTovrin = nullptr;

namespace {

// A tick that has waited this much longer than the timer's interval is run by the next delivery.
constexpr uint32_t HelloLateMs = 20;
// A list longer than this reaches the view in batches, at most every ViewBatchMs.
constexpr int DirectViewRows = 1000;
constexpr uint32_t ViewBatchMs = 100;
// The current row is read again this long after the window is back in front: after the screen
// reader has taken the activation in (reading it with the window's name cuts short what came before).
constexpr int RowReadingDelayMs = 100;

} // namespace

TFormTovrin::TFormTovrin(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TFormTovrin>())
    , FClock(platform::TickCount)
{
    AnnounceAsWindow(*this);
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ImageList1 = AmplifierIcon();
    setWindowIcon(ImageList1);

    ListView1 = ui->ListView1;
    LabelStatus = ui->LabelStatus;
    ReadAsStatusBar(*LabelStatus);
    Announcer = new TAnnouncer(*this);
    FListModel = std::make_unique<TAmplifierListModel>(FAmplifiers, ImageList1);
    ListView1->setModel(FListModel.get());
    ListView1->header()->setSectionsClickable(false);
    // Every row is one line: the view then lays out tens of thousands of rows (a flood of junk
    // replies) without measuring each.
    ListView1->setUniformRowHeights(true);
    for (int column = 0; column < FListModel->columnCount(); ++column)
        ListView1->setColumnWidth(column, 120);
    KeepSelectionColoursUnfocused(*ListView1);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &TFormTovrin::ListView1SelectionChanged);
    connect(ListView1, &QWidget::customContextMenuRequested, this, &TFormTovrin::ListView1ContextPopup);
    connect(ListView1, &QAbstractItemView::doubleClicked, this, &TFormTovrin::ListView1DblClick);
    ListView1->installEventFilter(this);

    BuildPopupMenu();
    OpenContextMenuByKeyboard(*ListView1);

    FRowReadingTimer = new QTimer(this);
    FRowReadingTimer->setSingleShot(true);
    FRowReadingTimer->setInterval(RowReadingDelayMs);
    connect(FRowReadingTimer, &QTimer::timeout, this, &TFormTovrin::ReadCurrentRow);

    FViewSyncTimer = new QTimer(this);
    FViewSyncTimer->setSingleShot(true);
    connect(FViewSyncTimer, &QTimer::timeout, this, &TFormTovrin::SyncView);

    TimerHello = new QTimer(this);
    TimerHello->setObjectName("TimerHello");
    TimerHello->setInterval(static_cast<int>(HelloIntervalMs));
    TimerHello->setTimerType(Qt::PreciseTimer);
    // A delivery may have run the tick just before; the timer then leaves it to the next turn.
    connect(TimerHello, &QTimer::timeout, this, [this] {
        if (FHelloTicked && platform::TickCount() - FHelloTickAt < HelloIntervalMs / 2)
            return;
        TimerHelloTimer();
    });
    TimerHello->start();

    FAmplifiers.SetObserver(this);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TFormTovrin::~TFormTovrin()
{
    // Pending deliveries are dropped first: a worker waiting for this thread is released and no
    // handler reaches this window once destruction has begun.
    FDelivery.Close();
    StopWorker();
    FAmplifiers.SetObserver(nullptr);
    // The view outlives this object's members; it must not read the list once they are gone.
    ListView1->setModel(nullptr);
}

bool TFormTovrin::event(QEvent* event)
{
    // Qt activates the window again after every dialog and every switch between windows; the
    // interface choice and the worker start belong to the first activation only, so they are
    // queued once. The first showing counts too: without a window manager no activation comes.
    const auto type = event->type();
    if ((type == QEvent::WindowActivate || type == QEvent::Show) && !FActivationQueued) {
        FActivationQueued = true;
        QMetaObject::invokeMethod(this, &TFormTovrin::FormActivate, Qt::QueuedConnection);
    }
    if (type == QEvent::WindowActivate)
        QueueCurrentRowReading();
    if (type == QEvent::KeyPress && RunListKey(*static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::event(event);
}

void TFormTovrin::FormActivate()
{
    FActivationQueued = true;
    // The user command items are built first; they do not depend on the worker.
    LoadUserCommands();

    StopWorker();
    std::string localAddress;
    if (FormSelIpAddr != nullptr && FormSelIpAddr->SelectLocalInterface(true) == TFormSelIpAddr::ModalOk)
        localAddress = FormSelIpAddr->SelectedAddress();
    std::string error;
    if (!StartWorker(localAddress, error)) {
        // A worker whose channel did not open would end at once; without a word the list would
        // just stay empty.
        UserDialogs::Error(this, tr("Error"),
            tr("Cannot open the discovery channel \"%1\".\n%2")
                .arg(ToQt("udp:" + localAddress + ":" + std::to_string(DiscoveryPort)),
                    TranslatedCoreText(error)));
    }
}

bool TFormTovrin::StartWorker(const std::string& localAddress, std::string& error)
{
    auto worker = TRecvThread::Create();
    worker->OnReceive = [this](const std::string& peer, const char* data, int length) {
        DatagramReceived(peer, data, length);
    };
    const unsigned generation = ++FWorkerGeneration;
    worker->OnDisconnected = [this, generation](const std::string&) {
        if (generation == FWorkerGeneration)
            FDiscoveryWatch.WorkerEnded();
    };
    worker->SetDelivery(FDelivery.Function());
    // Replies are read on while this thread is busy (with a dialog's layout, or just descheduled
    // on a loaded machine) instead of overflowing the socket.
    worker->SetPosting(FDelivery.Posting());
    if (!worker->Open("udp:" + localAddress + ":" + std::to_string(DiscoveryPort), error))
        return false;
    FOwnPeers = OwnDatagramPeers(localAddress, worker->LocalPort());
    worker->Start();
    Worker = std::move(worker);
    FDiscoveryWatch.Started(localAddress, DiscoveryInterfaceOf(localAddress));
    if (!FDiscoveryWatch.StatusText().empty())
        ShowStatus(FDiscoveryWatch.StatusText());
    // The list fills at once instead of at the next tick; the cadence counts from here.
    SayHello();
    TimerHello->start();
    return true;
}

void TFormTovrin::StopWorker()
{
    if (!Worker)
        return;
    ++FWorkerGeneration; // Stop reports the end itself; that is no failure
    Worker->Stop();
    Worker.reset();
}

void TFormTovrin::DatagramReceived(const std::string& peer, const char* data, int length)
{
    ++FDatagramsHandled;
    if (FHelloTicked && platform::TickCount() - FHelloTickAt >= HelloIntervalMs + HelloLateMs)
        TimerHelloTimer();
    SyncViewIfDue();
    // The settings datagram this program broadcast comes back to it and reads like a reply.
    if (IsOwnDatagram(FOwnPeers, peer))
        return;
    TTovrinData record;
    if (length <= 0 || !ParseTovrinReply(data, static_cast<size_t>(length), record))
        return;
    UpdateAmplifier(record);
    WatchSettingsReply(record);
}

std::string TFormTovrin::DiscoveryTallyText() const
{
    const auto& tally = FAmplifiers.Tally();
    return "discovery: " + std::to_string(FHellosSent) + " hellos sent, " + std::to_string(FDatagramsHandled)
        + " datagrams handled, " + std::to_string(tally.added) + " rows added, "
        + std::to_string(tally.removed) + " removed, " + std::to_string(tally.returned) + " came back, "
        + std::to_string(FAmplifiers.Count()) + " listed";
}

void TFormTovrin::TimerHelloTimer()
{
    FHelloTickAt = platform::TickCount();
    FHelloTicked = true;
    const bool late = FListClock.Tick(FClock());
    WatchSettingsTick();
    WatchDiscovery();
    if (!isVisible() || !Worker)
        return;
    SayHello();
    if (!late)
        RemoveStale(MaxSilenceMs);
}

void TFormTovrin::SayHello()
{
    FHelloTickAt = platform::TickCount();
    FHelloTicked = true;
    if (isVisible() && Worker && Worker->SendText(nullptr, DiscoveryHello) == 1)
        ++FHellosSent;
}

void TFormTovrin::WatchDiscovery()
{
    if (!FDiscoveryWatch.Watching())
        return;
    switch (FDiscoveryWatch.Tick(DiscoveryInterfaceOf(FDiscoveryWatch.LocalAddress()))) {
    case TDiscoveryWatch::Action::None:
        return;
    case TDiscoveryWatch::Action::Stop:
        StopWorker();
        ShowStatus(FDiscoveryWatch.StatusText());
        return;
    case TDiscoveryWatch::Action::Restart: {
        std::string error;
        if (!StartWorker(FDiscoveryWatch.LocalAddress(), error)) {
            FDiscoveryWatch.RestartFailed(error);
            ShowStatus(FDiscoveryWatch.StatusText());
        }
        return;
    }
    }
}

void TFormTovrin::ShowStatus(const std::string& text)
{
    // The line has room for two lines of text; the tool tip keeps the whole notice readable.
    LabelStatus->setText(TranslatedCoreText(text));
    LabelStatus->setToolTip(PlainToolTip(LabelStatus->text()));
    Announcer->Announce(LabelStatus->text());
}

void TFormTovrin::UpdateAmplifier(const TTovrinData& record)
{
    FAmplifiers.UpdateAmplifier(record, FListClock.Now(FClock()));
}

void TFormTovrin::RemoveStale(uint32_t maxAge)
{
    FAmplifiers.RemoveStale(maxAge, FListClock.Now(FClock()));
}

bool TFormTovrin::GetSelected(TTovrinData& record) const
{
    return FAmplifiers.GetSelected(record);
}

void TFormTovrin::SetClock(std::function<uint32_t()> clock)
{
    FClock = std::move(clock);
}

// A long list reaches the view in batches, at most every ViewBatchMs: each new row and each
// change of the selection lays the whole list out again, which under a flood of junk replies
// (tens of thousands of rows) would keep the window thread from the hello and from the replies
// waiting in the socket. A short list shows each new row at once.
void TFormTovrin::RowAppended(int)
{
    if (!FViewSyncQueued && FAmplifiers.Count() <= DirectViewRows)
        SyncView();
    else
        RequestViewSync();
}

void TFormTovrin::RequestViewSync()
{
    if (FViewSyncQueued)
        return;
    FViewSyncQueued = true;
    const uint32_t since = platform::TickCount() - FViewSyncedAt;
    if (since >= ViewBatchMs)
        QMetaObject::invokeMethod(this, &TFormTovrin::SyncView, Qt::QueuedConnection);
    else
        FViewSyncTimer->start(static_cast<int>(ViewBatchMs - since));
}

void TFormTovrin::SyncViewIfDue()
{
    if (FViewSyncQueued && platform::TickCount() - FViewSyncedAt >= ViewBatchMs)
        SyncView();
}

void TFormTovrin::SyncView()
{
    FViewSyncQueued = false;
    FViewSyncTimer->stop();
    FViewSyncedAt = platform::TickCount();
    AppendViewRows();
    if (FSelectionShowPending) {
        FSelectionShowPending = false;
        ShowModelSelection();
    }
}

void TFormTovrin::AppendViewRows()
{
    FListModel->ShowNewRows();
}

QModelIndex TFormTovrin::ViewIndex(int row) const
{
    return row >= 0 && row < FListModel->Shown() ? FListModel->index(row, 0) : QModelIndex();
}

// A row not in the view yet gets its latest texts when it is added.
void TFormTovrin::RowChanged(int row)
{
    FListModel->RowChanged(row);
    if (row == FAmplifiers.SelectedRow())
        NoteListSelection(-2);
}

// The view holds the list's first rows (new ones wait for the next batch), so the indices agree;
// rows not in the view yet just go.
void TFormTovrin::RowsRemoved(const std::vector<int>& rows)
{
    // A reset of the model forgets where the view was scrolled to: the first row shown that stays
    // is shown first again.
    const int top = ListView1->indexAt(QPoint(0, 0)).row();
    const int topAfter
        = top - static_cast<int>(std::lower_bound(rows.begin(), rows.end(), top) - rows.begin());
    FMirroringSelection = true;
    const bool reset = FListModel->RowsRemoved(rows);
    FMirroringSelection = false;
    if (reset && top >= 0)
        ListView1->scrollTo(ViewIndex(topAfter), QAbstractItemView::PositionAtTop);
    ShowModelSelection();
}

// Shown once per turn of the event loop: each change of the view's selection lays out the whole
// list again, which for hundreds of amplifiers appearing in one batch would cost seconds.
void TFormTovrin::SelectionChanged(int row)
{
    NoteListSelection(row);
    if (FAmplifiers.Count() > DirectViewRows) {
        FSelectionShowPending = true;
        RequestViewSync();
        return;
    }
    if (FSelectionShowQueued)
        return;
    FSelectionShowQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FSelectionShowQueued = false;
            ShowModelSelection();
        },
        Qt::QueuedConnection);
}

// The list model decides the selection (a new amplifier is selected); the view follows it.
void TFormTovrin::ShowModelSelection()
{
    const int row = FAmplifiers.SelectedRow();
    if (row >= FListModel->Shown())
        AppendViewRows();
    FMirroringSelection = true;
    const QModelIndex index = ViewIndex(row);
    QItemSelectionModel* selection = ListView1->selectionModel();
    if (!index.isValid()) {
        selection->clearSelection();
    } else if (!selection->isRowSelected(row) || selection->currentIndex().row() != row) {
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        // In view, but scrolled only as far as it takes: the selected row is where the keys act.
        ListView1->scrollTo(index, QAbstractItemView::EnsureVisible);
    }
    FMirroringSelection = false;
    AnnounceListSelection();
}

void TFormTovrin::ListView1SelectionChanged()
{
    if (FMirroringSelection)
        return;
    const auto selected = ListView1->selectionModel()->selectedRows();
    FAmplifiers.Select(selected.isEmpty() ? -1 : selected.first().row());
    NoteListSelection(-2);
}
