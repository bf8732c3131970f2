#include "ui/engine_thread.h"

#include <QApplication>
#include <QEventLoop>

#include <atomic>
#include <exception>
#include <thread>

#include "ui/gui_thread_ui.h"

namespace tessel {
namespace {

void CopySettings(const SharedState& from, SharedState& to) {
    to.dataFolder = from.dataFolder;
    to.catalogVersion = from.catalogVersion;
    to.providerClause = from.providerClause;
    to.autoFlag = from.autoFlag;
    to.initBkp = from.initBkp;
    to.termBkp = from.termBkp;
    to.icon = from.icon;
    to.time1 = from.time1;
    to.time2 = from.time2;
    to.time3 = from.time3;
}

}  // namespace

void RunOffGuiThread(SharedState& state, const std::function<void(SharedState&)>& work) {
    GuiThreadUi ui(state.ui);
    const std::string catalog = state.db().path();
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    QEventLoop loop;
    std::thread worker([&] {
        try {
            SharedState own(ui, state.system);
            CopySettings(state, own);
            own.catalog = Connection::openFile(catalog);
            work(own);
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        // Ends the loop below, also when it runs under a message box that
        // another window shows at this moment.
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    QApplication::setOverrideCursor(Qt::BusyCursor);
    loop.exec();
    // A loop ended early (the application quitting) must still answer the
    // worker's calls until it is done: joining at once could wait forever
    // for a worker that waits for the GUI thread.
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    ui.flush();
    QApplication::restoreOverrideCursor();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace tessel
