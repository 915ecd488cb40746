#pragma once
// The upload dialog: copies one local file to an amplifier under /tmp/ over its command
// connection and logs every step.

#include "gui/AnchoredControls.h"
#include "upload/Upload.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <string>

namespace Ui {
class FormUpload;
}
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TAnnouncer;
class TUploadStop;

class TFormUpload : public QDialog {
    Q_OBJECT

public:
    explicit TFormUpload(QWidget* parent = nullptr);
    ~TFormUpload() override;

    QLineEdit* EditIP;
    QLineEdit* EditFilename;
    QLineEdit* EditTargetname;
    QPushButton* ButtonSelectFilename;
    QPushButton* Button1;
    QPlainTextEdit* MemoLog;
    QProgressBar* ProgressBarUpload;
    // Speaks the button's change and each upload's result (gui/Announcer.h).
    TAnnouncer* Announcer;

    // Port and time limits of the exchange; the address and source come from the edits. Tests
    // point it at a simulator on another port and shorten the limits.
    TUploadParams ConnectionSettings;

    void AddLogLine(const std::string& text);
    bool IsUploading() const { return uploading; }

public slots:
    void ButtonSelectFilenameClick();
    // Starts an upload; while one runs, the button reads "Stop" and breaks it off.
    void Button1Click();
    // Ignored while an upload runs: its thread reports to this dialog until the connection closes.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void ShowProgress();
    void PostProgress(uint64_t sent, uint64_t total);
    void ShowTransfer(const TUploadOutcome& outcome);

    std::unique_ptr<Ui::FormUpload> ui;
    AnchoredControls anchors;
    bool uploading = false;
    // The log's next line is the amplifier's reply, shown as it came rather than translated.
    bool replyNext = false;
    std::shared_ptr<TUploadStop> stop; // of the running upload
    // Written by the upload's thread, shown by the window thread: latest values and whether an
    // update is already on its way.
    std::atomic<uint64_t> progressSent { 0 };
    std::atomic<uint64_t> progressTotal { 0 };
    std::atomic<bool> progressPosted { false };
};

extern TFormUpload* FormUpload;
