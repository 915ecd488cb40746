// The windows in German: which language the locale chooses, that every window shows German where
// it showed English (Qt's own buttons and file dialog included), and that the core's English
// sentences are translated while the values in them and the amplifier's replies stay as they are.
// ctest runs it under several locales (TOVRIN_TEST_EXPECTED_LANGUAGE says what each must give).

#include "finder/Ftovrin.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gui/CoreTexts.h"
#include "gui/Translations.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "upload/Fupload.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

// Readable QStrings in failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QString StartupLanguage; // what main() installed for this run's environment

struct LanguageCase {
    const char* forced;
    QStringList desktop;
    const char* expected;
};

TEST(Translations, TheForcedOrFirstKnownDesktopLanguageIsChosen)
{
    const LanguageCase cases[] = {
        { "", { "de-DE" }, "de" }, { "", { "de-AT", "en" }, "de" }, { "", { "de" }, "de" },
        { "", { "C" }, "" }, { "", { "en-US" }, "" }, { "", { "fr-FR" }, "" }, { "", {}, "" },
        { "", { "fr-FR", "de-DE" }, "de" }, // no French: the next language the desktop names
        { "", { "en-GB", "de-DE" }, "" }, // English first: the program's own texts
        { "de", { "en-US" }, "de" }, { "de_CH.UTF-8", { "C" }, "de" }, { "C", { "de-DE" }, "" },
        { "en", { "de-DE" }, "" }, { "fr", { "de-DE" }, "" }, // forced decides alone
    };
    for (const LanguageCase& c : cases) {
        SCOPED_TRACE(std::string(c.forced) + " / " + c.desktop.join(',').toStdString());
        EXPECT_EQ(WindowLanguage(c.forced, c.desktop), c.expected);
    }
}

std::unique_ptr<QWidget> MainWindow()
{
    auto window = std::make_unique<TFormTovrin>();
    window->SuppressActivation();
    const char* reply = "0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left";
    window->DatagramReceived("198.18.1.1:8001", reply, static_cast<int>(std::strlen(reply)));
    return window;
}

std::unique_ptr<QWidget> Finder()
{
    auto finder = std::make_unique<TFormGotoProj>(nullptr, "/nonexistent");
    finder->SetNextAnswer(TFormGotoProj::ModalOk, "/nonexistent/Produktion/2014/1395_Stage/");
    finder->exec();
    return finder;
}

std::unique_ptr<QWidget> MessageBox()
{
    return UserDialogs::NewMessageBox(nullptr, QMessageBox::Question,
        QCoreApplication::translate("TFormTovrin", "Confirm"),
        QCoreApplication::translate("TFormTovrin", "Apply settings? (Target will reboot, stand by)"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
}

std::unique_ptr<QWidget> FileDialog()
{
    auto dialog = std::make_unique<QFileDialog>(nullptr, QCoreApplication::translate("TFormUpload", "Open"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    return dialog;
}

const std::pair<const char*, std::function<std::unique_ptr<QWidget>()>> Windows[] = {
    { "main", MainWindow },
    { "IP settings", [] { return std::make_unique<TFormIpSettings>(nullptr, TOVRIN_INHOUSE_DOMAIN); } },
    { "interface choice", [] { return std::make_unique<TFormSelIpAddr>(); } },
    { "upload", [] { return std::make_unique<TFormUpload>(); } },
    { "editor", [] { return std::make_unique<TFormMemo>(); } },
    { "finder", Finder },
    { "message box", MessageBox },
    { "query",
        [] {
            return UserDialogs::NewInputQuery(nullptr,
                QCoreApplication::translate("TFormIpSettings", "Command"),
                QCoreApplication::translate("TFormIpSettings", "Enter Test Command to Amplifier"), "$$$VER?",
                255);
        } },
    { "file dialog", FileDialog },
};

// Every text a person sees or hears in the window, by where it is (object and property).
std::map<std::string, QString> Texts(QWidget& window)
{
    std::map<std::string, QString> texts;
    int unnamed = 0;
    const auto add = [&](QObject* owner, const char* what, const QString& text) {
        if (text.isEmpty())
            return;
        const QString name
            = owner->objectName().isEmpty() ? QString("#%1").arg(++unnamed) : owner->objectName();
        texts[(QString(owner->metaObject()->className()) + " " + name + " " + what).toStdString()] = text;
    };
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(&window);
    add(&window, "caption", window.windowTitle());
    for (QWidget* widget : widgets) {
        add(widget, "tooltip", widget->toolTip());
        add(widget, "accessible name", widget->accessibleName());
        add(widget, "accessible description", widget->accessibleDescription());
        if (auto* label = qobject_cast<QLabel*>(widget))
            add(label, "text", label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(button, "text", button->text());
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            add(group, "title", group->title());
        if (auto* menu = qobject_cast<QMenu*>(widget)) {
            add(menu, "title", menu->title());
            for (QAction* action : menu->actions())
                add(action, "text", action->text());
        }
    }
    if (auto* list = window.findChild<QAbstractItemView*>("ListView1"))
        for (int column = 0; column < list->model()->columnCount(); ++column)
            add(list, qPrintable(QString("column %1").arg(column)),
                list->model()->headerData(column, Qt::Horizontal).toString());
    return texts;
}

// Texts the same in both languages: words German uses too, what the finder says in German
// already, and what is no word at all.
bool SameInBoth(const QString& text)
{
    static const QRegularExpression same("^(OK|MAC-Suffix:?|Name:?|Text|Projekt suchen|Gefundene "
                                         "Verzeichnisnamen:?|Suchmuster: .*|/tmp/|[^A-Za-z]*)$");
    return same.match(QString(text).remove('&')).hasMatch();
}

void RemoveTranslations()
{
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

TEST(Translations, EveryWindowShowsGermanWhereItShowedEnglish)
{
    RemoveTranslations();
    std::vector<std::map<std::string, QString>> english;
    for (const auto& [name, make] : Windows)
        english.push_back(Texts(*make()));
    ASSERT_EQ(InstallTranslations(*qApp, "de"), "de");
    int compared = 0;
    for (size_t i = 0; i < std::size(Windows); ++i) {
        SCOPED_TRACE(Windows[i].first);
        const std::map<std::string, QString> german = Texts(*Windows[i].second());
        for (const auto& [where, text] : english[i]) {
            SCOPED_TRACE(where);
            ASSERT_EQ(german.count(where), 1U) << "not in German: " << text.toStdString();
            if (!SameInBoth(text)) {
                EXPECT_NE(german.at(where), text) << "left in English";
                ++compared;
            }
        }
    }
    EXPECT_GE(compared, 60);
    RemoveTranslations();
    InstallTranslations(*qApp, StartupLanguage);
}

TEST(Translations, TheLocaleOfTheRunChoosesTheLanguage)
{
    const QString expected = qEnvironmentVariable("TOVRIN_TEST_EXPECTED_LANGUAGE");
    EXPECT_EQ(StartupLanguage, expected);
    TFormTovrin main;
    const std::unique_ptr<QWidget> box = MessageBox();
    const auto* yes = qobject_cast<QMessageBox*>(box.get())->button(QMessageBox::Yes);
    QStringList menu;
    for (QAction* action : main.findChild<QMenu*>("PopupMenu1")->actions())
        if (!action->isSeparator())
            menu << action->text();
    if (expected.isEmpty()) {
        // The program's own texts, byte for byte.
        EXPECT_EQ(main.windowTitle(), "Select Amplifier");
        EXPECT_EQ(menu.join('|'),
            "IP-&Settings...|Upload File...|Configure this Menu...|Copy IP-Address|Save List "
            "As...|Find...|Find Next");
        EXPECT_EQ(yes->text(), "&Yes");
    } else {
        EXPECT_EQ(main.windowTitle(), "Verstärker auswählen");
        EXPECT_EQ(menu.join('|'),
            "IP-&Einstellungen...|Datei hochladen...|Dieses Menü bearbeiten...|IP-Adresse "
            "kopieren|Liste speichern unter...|Suchen...|Weitersuchen");
        EXPECT_EQ(yes->text(), "&Ja");
    }
}

// Installs German for one test and puts back what the run started with.
struct InGerman {
    InGerman()
    {
        RemoveTranslations();
        InstallTranslations(*qApp, "de");
    }
    ~InGerman()
    {
        RemoveTranslations();
        InstallTranslations(*qApp, StartupLanguage);
    }
};

TEST(Translations, CoreSentencesAreTranslatedWithTheirValuesKept)
{
    const InGerman german;
    const std::pair<std::string, QString> cases[] = {
        { "Loaded file /home/a%2b/fw.bin (3 bytes).", "Datei /home/a%2b/fw.bin geladen (3 Bytes)." },
        { "Connected to 198.18.1.2:2500 ...\r\nAMPSIM V1.0\r\n",
            "Verbunden mit 198.18.1.2:2500 ...\r\nAMPSIM V1.0\r\n" },
        { "Discovery stopped: the interface tvapp (any address) is gone.",
            "Suche angehalten: Die Netzwerkschnittstelle tvapp (jede Adresse) ist nicht mehr vorhanden." },
        { "Netmask \"255.0.255.0\" is not a valid netmask (its ones must be contiguous).\n",
            "Netzmaske „255.0.255.0“ ist keine gültige Netzmaske (ihre Einsen müssen lückenlos aufeinander "
            "folgen).\n" },
        { "Change took effect: 0050C2A10003 answers as 198.18.1.9 / 255.255.0.0 / 0.0.0.0.",
            "Änderung wirksam: 0050C2A10003 antwortet als 198.18.1.9 / 255.255.0.0 / 0.0.0.0." },
        { "FILE_UPLOAD_START", "FILE_UPLOAD_START" },
        { "Sending done. And more", "Sending done. And more" },
    };
    for (const auto& [english, expected] : cases)
        EXPECT_EQ(TranslatedCoreText(english), expected) << english;
}

TEST(Translations, TheUploadLogTranslatesItsOwnLinesAndKeepsTheAmplifiersReplies)
{
    const InGerman german;
    TFormUpload upload;
    for (const char* line : { "$$$VER?", "Sending done.", "$$$FILE_UPLOAD:00000003:/tmp/x",
             "FILE_UPLOAD_STARTED", "Unexpected Reply!", "Disconnected from 198.18.1.2:2500.",
             "Sending done.", "Reply timeout!", "Sending done.", "Unexpected Reply!" })
        upload.AddLogLine(line);
    EXPECT_EQ(upload.MemoLog->toPlainText(),
        "$$$VER?\n"
        "Sending done.\n" // the amplifier's reply, whatever it says
        "$$$FILE_UPLOAD:00000003:/tmp/x\n"
        "FILE_UPLOAD_STARTED\n"
        "Unerwartete Antwort!\n"
        "Verbindung mit 198.18.1.2:2500 getrennt.\n"
        "Senden abgeschlossen.\n"
        "Zeitüberschreitung bei der Antwort!\n" // no reply came
        "Senden abgeschlossen.\n"
        "Unexpected Reply!"); // the final reply
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    StartupLanguage = InstallTranslations(application);
    return RUN_ALL_TESTS();
}
