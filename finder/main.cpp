#include "comm/Recvthread.h"
#include "finder/Ftovrin.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gui/ErrorReportingApplication.h"
#include "gui/GlobalForm.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "upload/Fupload.h"

#include <exception>

int main(int argc, char* argv[])
{
    WinsockStartup();
    {
        ErrorReportingApplication application(argc, argv);
        try {
            // The program's windows, created once in this order; the first is the main window and
            // closing it ends the loop. They are destroyed in reverse order when the loop is over.
            GlobalForm<TFormTovrin> formTovrin(FormTovrin);
            GlobalForm<TFormIpSettings> formIpSettings(FormIpSettings);
            GlobalForm<TFormMemo> formMemo(FormMemo);
            GlobalForm<TFormUpload> formUpload(FormUpload);
            GlobalForm<TFormGotoProj> formGotoProj(FormGotoProj);
            GlobalForm<TFormSelIpAddr> formSelIpAddr(FormSelIpAddr);
            FormTovrin->show();
            QApplication::exec();
        } catch (const std::exception& error) {
            ErrorReportingApplication::ShowException(error.what());
        } catch (...) {
            ErrorReportingApplication::ShowException("");
        }
    }
    WinsockCleanup();
    return 0;
}
