#pragma once
// Test support: the Qt application object of a test program and an event
// pump with a deadline, for tests of components that deliver through the
// event loop. Main thread only. Header-only.

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <functional>

namespace tv::test {

// The application object, made on first use and kept to the end of the
// process, so that no component left running at exit outlives it.
inline QCoreApplication& app()
{
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char* argv[] = {program_invocation_name, nullptr};
        new QCoreApplication(argc, argv);
    }
    return *QCoreApplication::instance();
}

// Runs the event loop (sleeping while idle) until done() holds or `limit`
// has passed; returns done(). The limit only keeps a broken test alive.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(60))
{
    app();
    if (done())
        return true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || std::chrono::steady_clock::now() >= deadline)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    return done();
}

// Runs the event loop for `span`.
inline void pumpFor(std::chrono::milliseconds span)
{
    pumpUntil([] { return false; }, span);
}

} // namespace tv::test
