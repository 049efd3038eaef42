#pragma once

#include <QString>
#include <QTest>

// For a harness's start(), which answers an empty text on success and
// otherwise why it could not start: skips the test when a needed tool is
// not installed (the text says "not installed"), fails it for any other
// reason. Only in a test function, as QSKIP and QFAIL.
#define WAKORA_START_OR_SKIP(start)                                                                                    \
    do {                                                                                                               \
        if (const QString why = (start); !why.isEmpty()) {                                                             \
            if (why.contains(QStringLiteral("not installed")))                                                         \
                QSKIP(qPrintable(why));                                                                                \
            QFAIL(qPrintable(why));                                                                                    \
        }                                                                                                              \
    } while (false)
