#pragma once
// The plain modal text editor. Its owner sets the caption and the text, shows it, and on OK reads
// the text back; inside, the user can load and save files, copy all, paste over and clear. Created
// once; the text, the size and both file dialogs' names and folders carry over between uses.

#include "gui/AnchoredControls.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <string>

namespace Ui {
class TFormMemo;
}
class QAction;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;

class TFormMemo : public QDialog {
    Q_OBJECT

public:
    static constexpr int ModalOk = 1;
    static constexpr int ModalCancel = 2;

    // What a file dialog keeps from one use to the next.
    struct TFileDialogState {
        QString FileName;
        QString InitialDir;
    };

    explicit TFormMemo(QWidget* parent = nullptr);
    ~TFormMemo() override;

    QMenuBar* MainMenu1;
    QPlainTextEdit* Memo1;
    QPushButton* ButtonOk;
    QPushButton* ButtonCancel;
    QAction* Open1;
    QAction* Saveas1;
    QAction* Copyall1;
    QAction* Pasteover1;
    QAction* Clear1;
    TFileDialogState OpenDialog1;
    TFileDialogState SaveDialog1;

    // The memo's text as file bytes: CR LF between lines, nothing after the last one.
    std::string Text() const;
    // Replaces the memo's text; CR, LF and CR LF are line breaks. Bytes that are no UTF-8 are
    // taken one character per byte and written back the same way.
    void SetText(const std::string& bytes);
    // The memo's text from the regular file, or false with a LoadRegularFile error (the memo keeps
    // its text).
    bool LoadFromFile(const std::string& path, int& error);
    // The memo's text into the file through a temporary file and a rename (ReplaceFileBytes), or
    // false with the errno value (NotRegularFileError for a FIFO or a device).
    bool SaveToFile(const std::string& path, int& error) const;

    void accept() override;
    void reject() override;

public slots:
    void FormActivate();
    void Open1Click();
    void Saveas1Click();
    void Copyall1Click();
    void Pasteover1Click();
    void Clear1Click();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool AskProjectFolder(TFileDialogState& dialog, bool& fromFinder);
    QString ShownText() const;
    void ShowText(const QString& text);
    void FileCommand(bool save);

    std::unique_ptr<Ui::TFormMemo> ui;
    AnchoredControls FAnchors;
    // The text came from bytes that are no UTF-8: write it back one byte per character.
    bool FLatin1 = false;
};

extern TFormMemo* FormMemo;
