#pragma once
// The project finder: type a project or serial number, see the matching folders on the shared
// drive, act on one of them or pick it with OK. The search runs off the window thread; the list
// shows the newest search's result once it is complete.

#include "gotoproj/DriveListing.h"
#include "gui/AnchoredControls.h"
#include "platform/UniqueFd.h"

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class TFormGotoProj;
}
class FoundFoldersModel;
class ProjectSearchWorker;
class QAction;
class QEventLoop;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPainter;
class QPushButton;
class QSocketNotifier;

class TFormGotoProj : public QDialog {
    Q_OBJECT

public:
    static constexpr int ModalOk = 1;
    static constexpr int ModalCancel = 2;

    // driveRoot: the folder that stands for the shared drive; ProjectDriveRoot() when empty.
    // folderAccess: how the search reaches the drive (FolderListingCache).
    explicit TFormGotoProj(QWidget* parent = nullptr, const std::string& driveRoot = {},
        FolderListingCache::Access folderAccess = FolderListingCache::RealAccess());
    ~TFormGotoProj() override;

    QLineEdit* EditAmpSN;
    QListView* ListBox1;
    QPushButton* ButtonOk;
    QPushButton* Button2;
    QPushButton* ButtonClear;
    QPushButton* ButtonExtractAmpSnFromClipbrd;
    // Says that OK gave up waiting for a search that is still running; empty otherwise.
    QLabel* LabelSearchRunning;
    QMenu* PopupMenu1;
    QAction* MenuItemOpenExplorer;
    QAction* MenuItemOpenCmdLine;
    QAction* MenuItemCopyText;
    QAction* MenuItemCopyTextQ;
    QAction* MenuItemCopyAmpSN;
    QAction* MenuItemShowFileProps;

    // Icons per lower-case extension key (folders share the key ""); no icon when none was found.
    std::map<std::string, std::optional<QIcon>> IconCache;

    // The selected entry's text unchanged (a folder path ending in "/"), empty when none.
    std::string GetSelectedPath() const;
    // The project number of the selected folder, read from its path without the final "/".
    std::string GetSelectedProjectNumber() const;
    // The entries the list shows, in order.
    const std::vector<std::string>& Entries() const;

    // Starts a search for pattern; the list changes when its result arrives.
    void SearchProjectFolders(const std::string& pattern);
    // Whether a search asked for has not yet been shown.
    bool SearchPending() const { return FShownSearch != FRequestedSearch; }

    // Test control: the next exec() returns result at once without showing anything; with
    // ModalOk the list then holds selectedPath alone, selected (nothing when it is empty).
    void SetNextAnswer(int result, const std::string& selectedPath = {});
    int exec() override;

    void accept() override;
    void reject() override;
    // OK (button, Enter, double click) acts on the result for the field's text as it is now: a
    // search still on its way is waited for. When the share does not answer within
    // SearchWaitLimitMs, the dialog stays open rather than close on an older list, and says so.
    // During the wait Escape, Cancel and a close request cancel at once; other input is dropped.
    void done(int result) override;
    static constexpr int SearchWaitLimitMs = 5000;

signals:
    // The newest search's result is in the list.
    void SearchShown();

public slots:
    void FormActivate();
    void FormDestroy();
    void EditAmpSNChange();
    void ButtonClearClick();
    void ButtonExtractAmpSnFromClipbrdClick();
    void ListBox1DrawItem(QPainter& painter, int index, const QRect& rect, bool selected);
    void ListBox1MouseDown(const QPoint& position);
    void ListBox1ContextPopup(const QPoint& position);
    void ListBox1DblClick();
    void PopupMenu1Popup();
    void MenuItemOpenExplorerClick();
    void MenuItemOpenCmdLineClick();
    void MenuItemCopyTextClick();
    void MenuItemCopyTextQClick();
    void MenuItemCopyAmpSNClick();
    void MenuItemShowFilePropsClick();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void TakeFound();
    enum class WaitEnd { Shown, StillRunning, Cancelled, Destroyed };
    WaitEnd WaitForSearch();
    void CancelWait();
    void ShowFound(uint64_t search, std::vector<std::string> entries);
    void AddFoundFolder(const std::string& path);
    void SelectRow(int row);

    std::unique_ptr<Ui::TFormGotoProj> ui;
    FoundFoldersModel* FModel;
    AnchoredControls FAnchors;
    struct Found {
        uint64_t search;
        std::vector<std::string> entries;
    };
    // The newest result the worker left for the window thread; FWake tells that one is there.
    std::mutex FFoundLock;
    std::optional<Found> FFound;
    UniqueFd FWake;
    QSocketNotifier* FWakeNotifier = nullptr;
    std::unique_ptr<ProjectSearchWorker> FWorker;
    uint64_t FRequestedSearch = 0;
    uint64_t FShownSearch = 0;
    // The newest search asked for when the user last chose an entry (pointer or keys).
    uint64_t FUserChoiceDuring = 0;
    bool FSelectingRow = false;
    struct Answer {
        int result;
        std::string path;
    };
    std::optional<Answer> FNextAnswer;
    // While OK waits for a search: the loop that waits, and whether the wait was cancelled.
    QEventLoop* FWaitLoop = nullptr;
    bool FWaitCancelled = false;
};

extern TFormGotoProj* FormGotoProj;
