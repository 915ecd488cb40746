#pragma once
// Waiting in window tests. Qt's QTRY_* macros report through QTest's own runner and merely return
// under GoogleTest, so a condition that never came true would pass unnoticed: wait with this and
// assert on the result instead.

#include <QTest>

#include <functional>

inline bool WaitFor(const std::function<bool()>& condition, int ms = 5000)
{
    for (int waited = 0; !condition(); waited += 20) {
        if (waited >= ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}
