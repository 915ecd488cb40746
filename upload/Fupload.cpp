#include "upload/Fupload.h"

#include "gui/Accessibility.h"
#include "gui/Announcer.h"
#include "gui/CoreTexts.h"
#include "gui/FixedPitchFont.h"
#include "gui/FocusedButtonEnter.h"
#include "gui/GuiDelivery.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"
#include "gui/WindowPlacement.h"
#include "ui_Fupload.h"
#include "upload/UploadStop.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStringDecoder>

#include <thread>

TFormUpload* FormUpload = nullptr;

namespace {

// Replies are 8-bit text from the amplifier, paths are the local file names (UTF-8 here): show
// UTF-8 where it is valid and the bytes one by one otherwise.
QString DecodeLogText(const std::string& text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TFormUpload::TFormUpload(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowContextHelpButtonHint | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::FormUpload>())
    , anchors(QSize())
{
    ui->setupUi(this);
    // The caption stays as it is on screen; a screen reader names the dialog by what it does.
    setAccessibleName(tr("Upload a file to the amplifier"));
    Announcer = new TAnnouncer(*this);
    EnterPressesFocusedButton(*this);
    SizeLabelsToText(*this);
    EditIP = ui->EditIP;
    EditFilename = ui->EditFilename;
    EditTargetname = ui->EditTargetname;
    ButtonSelectFilename = ui->ButtonSelectFilename;
    Button1 = ui->Button1;
    MemoLog = ui->MemoLog;
    ProgressBarUpload = ui->ProgressBarUpload;

    UseFixedPitchFont(*MemoLog);
    ProgressBarUpload->setFormat({});

    anchors = AnchoredControls(size()); // the client size of the form
    using A = AnchoredControls;
    anchors.Add(EditIP, A::Left | A::Top | A::Right);
    anchors.Add(EditFilename, A::Left | A::Top | A::Right);
    anchors.Add(EditTargetname, A::Left | A::Top | A::Right);
    anchors.Add(ButtonSelectFilename, A::Top | A::Right);
    anchors.Add(ProgressBarUpload, A::Left | A::Top | A::Right);
    anchors.Add(MemoLog, A::Left | A::Top | A::Right | A::Bottom);

    connect(ButtonSelectFilename, &QPushButton::clicked, this, &TFormUpload::ButtonSelectFilenameClick);
    connect(Button1, &QPushButton::clicked, this, &TFormUpload::Button1Click);
}

TFormUpload::~TFormUpload() = default;

void TFormUpload::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    anchors.Place(size());
}

void TFormUpload::showEvent(QShowEvent* event)
{
    CentreOnOpener(*this);
    QDialog::showEvent(event);
}

void TFormUpload::reject()
{
    if (uploading)
        return;
    QDialog::reject();
}

void TFormUpload::AddLogLine(const std::string& text)
{
    const QString line = DecodeLogText(text);
    const bool reply
        = replyNext && line != "Reply timeout!" && !line.startsWith("Stopped while waiting for ");
    replyNext
        = !reply && (line == "$$$VER?" || line.startsWith("$$$FILE_UPLOAD:") || line == "Sending done.");
    MemoLog->appendPlainText(reply ? line : TranslatedCoreLine(line));
    MemoLog->verticalScrollBar()->setValue(MemoLog->verticalScrollBar()->maximum());
    MemoLog->repaint();
}

void TFormUpload::ButtonSelectFilenameClick()
{
    const QString chosen = UserDialogs::OpenFileName(
        this, tr("Open"), QFileInfo(EditFilename->text()).path(), tr("All Files (*)"));
    if (!chosen.isEmpty())
        EditFilename->setText(chosen);
}

void TFormUpload::PostProgress(uint64_t sent, uint64_t total)
{
    progressSent.store(sent);
    progressTotal.store(total);
    // One update on its way is enough: it shows the latest values when it runs.
    if (!progressPosted.exchange(true))
        PostToThreadOf(this, [this] { ShowProgress(); });
}

void TFormUpload::ShowProgress()
{
    progressPosted.store(false);
    if (!uploading)
        return;
    const uint64_t sent = progressSent.load();
    const uint64_t total = progressTotal.load();
    ProgressBarUpload->setValue(total == 0 ? ProgressBarUpload->maximum()
                                           : static_cast<int>(sent * ProgressBarUpload->maximum() / total));
    ProgressBarUpload->setFormat(tr("%1 of %2 bytes").arg(sent).arg(total));
}

void TFormUpload::Button1Click()
{
    if (uploading) {
        // The button reads "Stop" meanwhile.
        stop->Request();
        Button1->setEnabled(false);
        return;
    }
    uploading = true;
    replyNext = false;
    stop = std::make_shared<TUploadStop>();
    Button1->setText(tr("Stop"));
    Announcer->Announce(tr("Stop: the upload runs, this button breaks it off"));
    ButtonSelectFilename->setEnabled(false);
    ProgressBarUpload->setValue(0);
    ProgressBarUpload->setFormat({});

    TUploadParams params = ConnectionSettings;
    params.Address = FromQt(EditIP->text());
    params.SourcePath = QFile::encodeName(EditFilename->text()).toStdString();

    // The exchange opens and reads the file, connects, waits and sends; on its own thread the
    // window keeps painting and discovery goes on while this handler waits in a local loop.
    QEventLoop waiting;
    TUploadOutcome outcome;
    std::thread exchange([this, params, &waiting, &outcome, stop = stop] {
        UploadFile(
            params,
            [this](const std::string& line) { PostToThreadOf(this, [this, line] { AddLogLine(line); }); },
            [this](uint64_t sent, uint64_t total, double) { PostProgress(sent, total); }, stop.get(),
            &outcome);
        // Posted after every log line, so the loop ends once all of them are shown.
        PostToThreadOf(&waiting, [&waiting] { waiting.quit(); });
    });
    waiting.exec();
    exchange.join();

    uploading = false;
    stop.reset();
    ShowTransfer(outcome);
    // How it ended (the log's line before "Disconnected from …") and what was sent (the bar's
    // text), in one notice.
    const QString ended = DecodeLogText(outcome.LastLine);
    const QString sent = ProgressBarUpload->format();
    Announcer->Announce(sent.isEmpty() || ended.contains(sent) ? ended
            : ended.isEmpty()                                  ? sent
                                                               : ended + "\n" + sent);
    Button1->setText(tr("Upload"));
    Button1->setEnabled(true);
    ButtonSelectFilename->setEnabled(true);
}

void TFormUpload::ShowTransfer(const TUploadOutcome& outcome)
{
    // The log keeps its fixed lines; size, time and rate of the data go beside it, on the bar.
    const bool allSent = outcome.Sent == outcome.Size && outcome.DataSeconds > 0;
    if (!allSent) {
        ProgressBarUpload->setFormat(ProgressBarUpload->value() > 0
                ? tr("%1 of %2 bytes").arg(outcome.Sent).arg(outcome.Size)
                : QString());
        return;
    }
    ProgressBarUpload->setValue(ProgressBarUpload->maximum());
    ProgressBarUpload->setFormat(TranslatedCoreText(DescribeTransfer(outcome.Size, outcome.DataSeconds)));
}
