// Lets Qt's D-Bus thread end before Qt Core tears down its per-thread
// bookkeeping at process exit.
//
// The system Bluetooth stack reaches BlueZ over D-Bus, which starts Qt's
// D-Bus connection manager: a thread that Qt stops from an exit handler,
// asking it to quit and waiting until its run is over. The thread is not
// done then: it still has to drop its own reference to its thread data,
// which it does from a thread-specific-data destructor as it ends. A later
// exit handler of Qt Core deletes that thread-specific-data key; when the
// main thread gets there first, the destructor is never called and the
// thread data stays allocated. Under the leak checker that ends a clean
// stop (by signal, by the tray, by the relay's quit) with status 1.
#pragma once

namespace taltrix::app {

// Installs, once, an exit handler that waits for the D-Bus thread to end.
// Call it before anything can start that thread (before the application
// object and the links), so that the handler runs after Qt has stopped the
// thread and before Qt Core deletes the key.
void awaitDbusThreadAtExit();

// Whether a thread of this process carries the D-Bus thread's name.
bool dbusThreadRuns();

}  // namespace taltrix::app
