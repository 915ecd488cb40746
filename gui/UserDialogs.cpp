#include "gui/UserDialogs.h"

#include "gui/QtText.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>
#include <deque>

namespace UserDialogs {
namespace {

    struct Queued {
        std::deque<QMessageBox::StandardButton> answers;
        std::deque<std::optional<std::string>> inputs;
        std::deque<QString> fileNames;
        QList<Asked> asked;
    };

    Queued& State()
    {
        static Queued state;
        return state;
    }

    QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon, const QString& kind,
        const QString& caption, const QString& text, QMessageBox::StandardButtons buttons,
        QMessageBox::StandardButton defaultButton, const QString& detail = {})
    {
        State().asked.append({ kind, caption, text, {}, detail });
        if (!State().answers.empty()) {
            const auto answer = State().answers.front();
            State().answers.pop_front();
            return answer;
        }
        auto box = NewMessageBox(parent, icon, caption, text, buttons, defaultButton);
        box->setInformativeText(detail);
        // It names an amplifier as it reported itself: never markup either.
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel"))
            label->setTextFormat(Qt::PlainText);
        return static_cast<QMessageBox::StandardButton>(box->exec());
    }

} // namespace

std::unique_ptr<QMessageBox> NewMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
    const QString& text, QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, parent);
    // Message texts carry amplifier replies and file names: never render them as markup.
    box->setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton)
        box->setDefaultButton(defaultButton);
    return box;
}

QMessageBox::StandardButton Error(QWidget* parent, const QString& caption, const QString& text)
{
    return Show(parent, QMessageBox::Critical, "error", caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

QMessageBox::StandardButton Warning(QWidget* parent, const QString& caption, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return Show(parent, QMessageBox::Warning, "warning", caption, text, buttons, defaultButton);
}

QMessageBox::StandardButton Information(QWidget* parent, const QString& caption, const QString& text)
{
    return Show(
        parent, QMessageBox::Information, "information", caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

QMessageBox::StandardButton Question(
    QWidget* parent, const QString& caption, const QString& text, QMessageBox::StandardButtons buttons)
{
    return Show(parent, QMessageBox::Question, "question", caption, text, buttons, QMessageBox::NoButton);
}

QMessageBox::StandardButton QuestionAbout(
    QWidget* parent, const QString& caption, const QString& text, const QString& detail)
{
    return Show(parent, QMessageBox::Question, "question", caption, text, QMessageBox::Yes | QMessageBox::No,
        QMessageBox::NoButton, detail);
}

namespace {

    // Typing stops at the limit, but a longer text that is already there stays whole: no edit may
    // make the text longer than the limit or than it already was.
    class TypingLimit : public QValidator {
    public:
        TypingLimit(int limit, qsizetype initialLength, QObject* parent)
            : QValidator(parent)
            , FLimit(limit)
            , FLength(initialLength)
        {
        }
        State validate(QString& input, int&) const override
        {
            if (input.size() > FLimit && input.size() > FLength)
                return Invalid;
            FLength = input.size();
            return Acceptable;
        }

    private:
        int FLimit;
        mutable qsizetype FLength;
    };

} // namespace

std::unique_ptr<QInputDialog> NewInputQuery(
    QWidget* parent, const QString& caption, const QString& prompt, const std::string& value, int maxLength)
{
    auto dialog = std::make_unique<QInputDialog>(parent);
    dialog->setWindowTitle(caption);
    dialog->setLabelText(prompt);
    dialog->setTextValue(ToQt(value));
    // The prompt may hold text from a file or the network (a placeholder's name): never markup.
    for (auto* label : dialog->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    if (auto* edit = dialog->findChild<QLineEdit*>()) {
        // A line edit's own limit would cut a longer proposal; only then the validator keeps it.
        if (edit->text().size() <= maxLength)
            edit->setMaxLength(maxLength);
        else
            edit->setValidator(new TypingLimit(maxLength, edit->text().size(), edit));
        edit->selectAll();
    }
    return dialog;
}

namespace {

    std::string ConfirmedValue(const std::string& proposed, const QString& confirmed)
    {
        // A proposal that is no UTF-8 is shown one character per byte; taken back as UTF-8 its bytes
        // would change although the user changed nothing.
        if (confirmed == ToQt(proposed))
            return proposed;
        return FromQt(confirmed);
    }

} // namespace

bool InputQuery(
    QWidget* parent, const QString& caption, const QString& prompt, std::string& value, int maxLength)
{
    State().asked.append({ "input", caption, prompt, ToQt(value) });
    if (!State().inputs.empty()) {
        auto answer = State().inputs.front();
        State().inputs.pop_front();
        if (!answer)
            return false;
        value = answer->substr(0, std::max(static_cast<size_t>(maxLength), value.size()));
        return true;
    }
    const auto dialog = NewInputQuery(parent, caption, prompt, value, maxLength);
    if (dialog->exec() != QDialog::Accepted)
        return false;
    value = ConfirmedValue(value, dialog->textValue());
    return true;
}

static QString NextFileName(
    const QString& kind, const QString& caption, const QString& folder, bool& answered)
{
    State().asked.append({ kind, caption, {}, folder });
    answered = !State().fileNames.empty();
    if (!answered)
        return {};
    QString name = State().fileNames.front();
    State().fileNames.pop_front();
    return name;
}

QString OpenFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
    QFileDialog::Options options)
{
    bool answered = false;
    QString name = NextFileName("open", caption, folder, answered);
    return answered ? name : QFileDialog::getOpenFileName(parent, caption, folder, filter, nullptr, options);
}

QString SaveFileName(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
    QFileDialog::Options options)
{
    bool answered = false;
    QString name = NextFileName("save", caption, folder, answered);
    return answered ? name : QFileDialog::getSaveFileName(parent, caption, folder, filter, nullptr, options);
}

void SetNextAnswer(QMessageBox::StandardButton answer)
{
    State().answers.push_back(answer);
}
void SetNextInput(std::optional<std::string> value)
{
    State().inputs.push_back(std::move(value));
}
void SetNextFileName(const QString& fileName)
{
    State().fileNames.push_back(fileName);
}

QList<Asked> TakeAsked()
{
    QList<Asked> asked;
    asked.swap(State().asked);
    return asked;
}

} // namespace UserDialogs
