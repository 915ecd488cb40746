#pragma once
// The one way the windows ask the user something outside their own controls: message boxes, the
// one-line input query and file dialogs. Tests queue the next answers instead of hunting for
// windows; every question asked is recorded so tests can check what the user was shown.

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

class QInputDialog;
class QWidget;

namespace UserDialogs {

struct Asked {
    QString kind; // "error", "warning", "information", "question", "input", "open", "save"
    QString caption;
    QString text;
    QString value; // the proposed value of a query; the starting place of a file dialog
    QString detail = {}; // a message box's second text: what the question is about
};

QMessageBox::StandardButton Error(QWidget* parent, const QString& caption, const QString& text);
QMessageBox::StandardButton Warning(QWidget* parent, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
QMessageBox::StandardButton Information(QWidget* parent, const QString& caption, const QString& text);
QMessageBox::StandardButton Question(QWidget* parent, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No);
// The same with a second text under the question, saying what it is about.
QMessageBox::StandardButton QuestionAbout(
    QWidget* parent, const QString& caption, const QString& text, const QString& detail);

// One-line query; typing cannot make the value longer than maxLength characters, but a longer
// proposed value is shown whole. True on OK with value replaced: by the proposal's own bytes when
// it was confirmed as shown, else by the confirmed text as UTF-8.
bool InputQuery(
    QWidget* parent, const QString& caption, const QString& prompt, std::string& value, int maxLength = 255);
// The dialog InputQuery shows, ready to run: the value fully selected when it opens.
std::unique_ptr<QInputDialog> NewInputQuery(
    QWidget* parent, const QString& caption, const QString& prompt, const std::string& value, int maxLength);

// The message box the questions above show, ready to run.
std::unique_ptr<QMessageBox> NewMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
    const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);

// folder may also name a file, which the dialog then proposes.
QString OpenFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
    QFileDialog::Options options = {});
QString SaveFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
    QFileDialog::Options options = {});

// Test control: the next question of that kind is answered without showing anything.
void SetNextAnswer(QMessageBox::StandardButton answer);
void SetNextInput(std::optional<std::string> value); // nullopt answers Cancel
void SetNextFileName(const QString& fileName); // empty answers Cancel
// Everything asked since the last call, oldest first; clears the record.
QList<Asked> TakeAsked();

} // namespace UserDialogs
