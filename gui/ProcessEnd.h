#pragma once
// The end of a window program once its windows are gone.
//
// Qt's Wayland client (seen with 6.4) can hang for ever while the application object tears down
// its connection: when the window thread has just prepared a read for the connection's event
// thread and that thread is told to stop before it polls, it leaves without reading or cancelling,
// and the second event thread (frame callbacks) then waits in wl_display_read_events for that
// reader for good, while the window thread waits for it to finish. Under Wayland the process
// therefore ends here, without that teardown (the compositor frees everything of a client whose
// connection closes): cleanUp first releases what would have been destroyed after the
// application object, standard streams are flushed, and the process ends with status. Elsewhere
// this only returns status, for main to return.

#include <functional>

int EndBeforeWindowSystemTeardown(int status, const std::function<void()>& cleanUp = {});
