#pragma once
// The main window: the live list of amplifiers found by discovery and its context menu.

#include "comm/Recvthread.h"
#include "finder/Discovery.h"
#include "finder/DiscoveryWatch.h"
#include "finder/ListClock.h"
#include "finder/MenuTarget.h"
#include "finder/SettingsWatch.h"
#include "gui/GuiDelivery.h"
#include "platform/DesktopLaunch.h"
#include "text/Strtools.h"

#include <QIcon>
#include <QKeySequence>
#include <QModelIndex>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QTimer;
class QTreeView;
class TAmplifierListModel;
class TAnnouncer;

namespace Ui {
class TFormTovrin;
}

class TFormTovrin : public QWidget, private AmplifierList::Observer {
    Q_OBJECT

public:
    explicit TFormTovrin(QWidget* parent = nullptr);
    ~TFormTovrin() override;

    // A view over the amplifier list's own records (finder/FtovrinListModel.h).
    QTreeView* ListView1;
    QTimer* TimerHello;
    QMenu* PopupMenu1;
    QAction* MenuItemIpSettings;
    QAction* MenuItemUpload;
    QAction* MenuItemCopyIP;
    QIcon ImageList1;
    // One line under the list for notices that must not stop the window (settings changes,
    // discovery stopped and running again). Plain text: it can hold what amplifiers sent.
    QLabel* LabelStatus;
    // Speaks notices where the focus stays (gui/Announcer.h): every status line message, results
    // and confirmations, a selection the list moved by itself.
    TAnnouncer* Announcer;

    // The running communication worker, or none.
    std::shared_ptr<TRecvThread> Worker;
    // The selected row's record as of the last GetSelected.
    TTovrinData Selected;
    // The user command menu: the configuration item with its separators, the templates of the
    // user items (indexed by an item's data), the values last given for placeholders, and the
    // menu file's full path (the user's own, which "Configure this Menu..." writes) with the
    // defaults read while it does not exist.
    QAction* N1;
    QAction* MenuItemCfgTools;
    QAction* N2;
    // Behind the user command items: separator N3, "Save List As...", "Find..." and "Find Next".
    QAction* N3;
    QAction* MenuItemSaveList;
    QAction* MenuItemFind;
    QAction* MenuItemFindNext;
    TStringToks Commands;
    TParamMemory ParamValues;
    std::string CmdsFileName;
    TStringToks CmdsDefaultFileNames;
    // The terminal and opener that user commands start through; tests put stand-ins here.
    platform::TDesktopPrograms DesktopPrograms;

    // Asks for the local interface and (re)starts the worker on its discovery channel. Runs by
    // itself once, when the window is first shown.
    void FormActivate();
    void DatagramReceived(const std::string& peer, const char* data, int length);
    void TimerHelloTimer();
    bool GetSelected(TTovrinData& record) const;
    void MenuItemCopyIPClick();
    void MenuItemIpSettingsClick();
    void MenuItemUploadClick();
    void ListView1DblClick();
    // Builds the user command items from the menu file in use (again: earlier ones go first).
    void BuildUserCommandItems();
    void MenuItemCfgToolsClick();
    void MenuItemCmdsXClick();
    // Writes every row to a CSV file the user chooses (finder/ListExport.h).
    void MenuItemSaveListClick();
    // Ask for a text and select the next row whose MAC suffix, IP address or name contains it
    // (finder/AmplifierSearch.h); Find Next searches the last text again, from the selected row.
    void MenuItemFindClick();
    void MenuItemFindNextClick();
    // The amplifier an operation acts on (finder/MenuTarget.h): the row current when the context
    // menu opened, else the selected row. A target that went away is reported on the status line.
    TMenuTarget::Outcome Target(TTovrinData& record);
    // What MenuItemCmdsXClick runs for the item with that index.
    void RunUserCommand(size_t index);
    // How long a sent settings change is watched for before the user is told it did not show.
    uint32_t SettingsWatchLimitMs = TSettingsWatch::DefaultLimitMs;

    const AmplifierList& Amplifiers() const { return FAmplifiers; }
    // One line on how discovery went: hellos sent, datagrams handled, rows added, removed and
    // come back (rows come back are counted only after CountReturningRows).
    std::string DiscoveryTallyText() const;
    void CountReturningRows() { FAmplifiers.CountReturns(true); }
    // The millisecond tick that replies are stamped and aged with; tests put it near the wrap.
    void SetClock(std::function<uint32_t()> clock);
    // For tests that show the window without a private network: the first showing then starts no
    // worker.
    void SuppressActivation() { FActivationQueued = true; }

protected:
    bool event(QEvent* event) override;
    // The list's keys: Return acts as a double click, and the menu's shortcuts act in the order
    // of the keys typed (a screen reader's bridge holds keys back; a shortcut would overtake them).
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Also for keys that reach the window itself. True when the key was the list's.
    bool RunListKey(const QKeyEvent& key);

private:
    void UpdateAmplifier(const TTovrinData& record);
    void RemoveStale(uint32_t maxAge);
    bool StartWorker(const std::string& localAddress, std::string& error);
    void StopWorker();
    void SayHello();
    void WatchDiscovery();
    void ShowStatus(const std::string& text);
    void BuildPopupMenu();
    QAction* AddMenuItem(const char* name, const QString& caption, const QKeySequence& shortcut,
        void (TFormTovrin::*handler)());
    void ListView1ContextPopup(const QPoint& position);
    void ListView1SelectionChanged();
    bool ConfirmDoubtfulSettings(
        const std::string& ip, const std::string& netmask, const std::string& gateway);
    void WatchSettingsReply(const TTovrinData& record);
    void WatchSettingsTick();
    void LoadUserCommands();

    void FindNextRow();
    void ShowFoundRow(int row);
    // The screen reader reads the current row again once the window is back in front.
    void QueueCurrentRowReading();
    void ReadCurrentRow();
    // What the selection the list moved by itself is told as; and the selected row's label.
    void NoteListSelection(int row);
    void AnnounceListSelection();

    void RowAppended(int row) override;
    void RowChanged(int row) override;
    void RowsRemoved(const std::vector<int>& rows) override;
    void SelectionChanged(int row) override;
    void ShowModelSelection();
    void SyncView();
    void SyncViewIfDue();
    void RequestViewSync();
    void AppendViewRows();
    QModelIndex ViewIndex(int row) const;

    std::unique_ptr<Ui::TFormTovrin> ui;
    AmplifierList FAmplifiers;
    GuiDelivery FDelivery;
    std::function<uint32_t()> FClock;
    TListClock FListClock;
    TDiscoveryWatch FDiscoveryWatch;
    // Counts the workers started; a worker's end is news only while it is the current one.
    unsigned FWorkerGeneration = 0;
    // "address:port" texts the program's own datagrams come from: they are not replies.
    std::vector<std::string> FOwnPeers;
    // When the last hello tick ran, on the real clock: deliveries run a tick that is due, so that a
    // flood of datagrams cannot hold the hello and the expiry back.
    uint32_t FHelloTickAt = 0;
    uint64_t FHellosSent = 0;
    uint64_t FDatagramsHandled = 0;
    bool FHelloTicked = false;
    bool FActivationQueued = false;
    bool FMirroringSelection = false;
    bool FSelectionShowQueued = false;
    QTimer* FViewSyncTimer = nullptr;
    QTimer* FRowReadingTimer = nullptr;
    bool FViewSyncQueued = false;
    bool FSelectionShowPending = false;
    uint32_t FViewSyncedAt = 0;
    TSettingsWatch FSettingsWatch;
    // Declared after FAmplifiers: the model reads its records, so it goes first.
    std::unique_ptr<TAmplifierListModel> FListModel;
    // The text last searched for, proposed by the next Find; and the notice shown when it was not
    // found, which a later find takes back.
    std::string FFindText;
    QString FFindNotice;
    TMenuTarget FMenuTarget;
    // The selected row as last shown, to name it once it went away; and the news to speak.
    std::string FSelectedLabel;
    QString FSelectionNews;
};

extern TFormTovrin* FormTovrin;
// The address last typed at a user command's IP prompt; "192.168.1." from the first command on.
extern std::optional<std::string> LastIp;
