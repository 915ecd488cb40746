#include "comm/Recvthread.h"
#include "finder/Ftovrin.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gui/ErrorReportingApplication.h"
#include "gui/GlobalForm.h"
#include "gui/Translations.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "upload/Fupload.h"

#include "platform/UniqueFd.h"

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include <sys/signalfd.h>

namespace {

// Benchmarks set TOVRIN_DISCOVERY_STATS to have the discovery tally written to standard error at
// the end; they end the program with SIGTERM or SIGINT, which then closes it as its window would.
bool DiscoveryTallyAsked()
{
    const char* asked = std::getenv("TOVRIN_DISCOVERY_STATS");
    return asked != nullptr && *asked != '\0';
}

// Blocks the stop signals in every thread (call before any thread starts) and gives a descriptor
// that becomes readable when one arrives.
UniqueFd StopSignalFd()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return UniqueFd(signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
}

} // namespace

int main(int argc, char* argv[])
{
    WinsockStartup();
    const bool tallyAsked = DiscoveryTallyAsked();
    const UniqueFd stopSignal = tallyAsked ? StopSignalFd() : UniqueFd();
    {
        ErrorReportingApplication application(argc, argv);
        // German for a German desktop (or TOVRIN_LANG=de), the program's own texts otherwise.
        InstallTranslations(application);
        std::unique_ptr<QSocketNotifier> stopNotifier;
        if (stopSignal) {
            stopNotifier = std::make_unique<QSocketNotifier>(stopSignal.get(), QSocketNotifier::Read);
            QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [] { QApplication::quit(); });
        }
        try {
            // The program's windows, created once in this order; the first is the main window and
            // closing it ends the loop. They are destroyed in reverse order when the loop is over.
            GlobalForm<TFormTovrin> formTovrin(FormTovrin);
            GlobalForm<TFormIpSettings> formIpSettings(FormIpSettings);
            GlobalForm<TFormMemo> formMemo(FormMemo);
            GlobalForm<TFormUpload> formUpload(FormUpload);
            GlobalForm<TFormGotoProj> formGotoProj(FormGotoProj);
            GlobalForm<TFormSelIpAddr> formSelIpAddr(FormSelIpAddr);
            if (tallyAsked)
                FormTovrin->CountReturningRows();
            FormTovrin->show();
            QApplication::exec();
            if (tallyAsked)
                std::fprintf(stderr, "tovrin: %s\n", FormTovrin->DiscoveryTallyText().c_str());
        } catch (const std::exception& error) {
            ErrorReportingApplication::ShowException(error.what());
        } catch (...) {
            ErrorReportingApplication::ShowException("");
        }
    }
    WinsockCleanup();
    return 0;
}
