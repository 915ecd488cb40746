// Memory of the main window's amplifier list: the real window (offscreen, no worker) takes the
// replies of N amplifiers and shows them; printed are the process's resident memory and the heap
// in use (glibc's mallinfo2) before and after, and per row. Run it under heaptrack to see which
// allocations hold the memory:
//
//   QT_QPA_PLATFORM=offscreen build/bench/list_memory_gui 64516
//   QT_QPA_PLATFORM=offscreen heaptrack build/bench/list_memory_gui 64516
#include "finder/Ftovrin.h"

#include "BenchReplies.h"

#include <QApplication>
#include <QThread>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

double ResidentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return 0;
}

double HeapMiB()
{
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 64516;
    const auto replies = Replies(count);
    TFormTovrin window;
    window.SetClock([] { return 1000u; });
    window.SuppressActivation();
    window.show();
    QCoreApplication::processEvents();
    const double rss0 = ResidentMiB();
    const double heap0 = HeapMiB();
    for (const auto& reply : replies)
        window.DatagramReceived("198.18.1.1:8001", reply.c_str(), static_cast<int>(reply.size()));
    // Long lists reach the view in batches: let the last one and its layout through.
    for (int turn = 0; turn < 20; ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    window.repaint();
    const double rss1 = ResidentMiB();
    const double heap1 = HeapMiB();
    std::printf("%d rows: resident %.1f -> %.1f MiB (+%.0f bytes a row), heap in use %.1f -> %.1f MiB "
                "(+%.0f bytes a row)\n",
        window.Amplifiers().Count(), rss0, rss1, (rss1 - rss0) * 1048576.0 / count, heap0, heap1,
        (heap1 - heap0) * 1048576.0 / count);
    return 0;
}
