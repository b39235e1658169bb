// Waits for a condition while the event loop runs. Unlike QTRY_VERIFY it
// gives the result to the caller, so a GoogleTest assertion can fail on it.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <functional>

namespace tarvik::test {

inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace tarvik::test
