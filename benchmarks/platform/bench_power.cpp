// How long the power seams take on private buses, 500 runs each, p50 and p99:
// the assertion listing the main window polls every 3 seconds, the settings
// read (process start, read, parse), and a toggle cycle through the
// controller next to the bare calls of the same backend from this process.
// Then PmsetParser's throughput on a 10,000-line listing.

#include "InhibitMocks.h"
#include "InhibitorPowerControl.h"
#include "PmsetParser.h"
#include "PowerController.h"
#include "SystemPowerStatus.h"
#include "SystemRunningApplications.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace InhibitMocks;

constexpr int runs = 500;

struct Figures {
    double p50 = 0;
    double p99 = 0;
};

static Figures figures(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        const auto index = size_t(std::ceil(q * double(samples.size()))) - 1;
        return samples[std::min(index, samples.size() - 1)];
    };
    return { at(0.50), at(0.99) };
}

static void print(const char *what, const Figures &f)
{
    std::printf("%-52s p50 %8.3f ms   p99 %8.3f ms\n", what, f.p50, f.p99);
}

static double timed(const std::function<bool()> &step)
{
    QElapsedTimer timer;
    timer.start();
    if (!step()) {
        std::fprintf(stderr, "a step failed\n");
        std::exit(1);
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (const QString reason = MockBuses::unavailableReason(); !reason.isEmpty()) {
        std::fprintf(stderr, "cannot run: %s\n", qPrintable(reason));
        return 77;
    }
    MockBuses buses;
    QString error;
    DBusMock *logind = buses.start(&error) ? startLogind(buses, &error) : nullptr;
    DBusMock *saver = logind
        ? startCookieService(buses, screenSaverService, screenSaverPath, screenSaverInterface, &error)
        : nullptr;
    if (!saver) {
        std::fprintf(stderr, "cannot set up the buses: %s\n", qPrintable(error));
        return 1;
    }
    for (const char *key : { "HandleLidSwitch", "HandleLidSwitchExternalPower", "HandleLidSwitchDocked" })
        logind->addProperty(logindInterface, QString::fromLatin1(key), QStringLiteral("ignore"));

    QDBusConnection system = buses.bus(MockBuses::system).newConnection();
    QDBusConnection session = buses.bus(MockBuses::session).newConnection();

    // A few other holders, so the listing has something to carry.
    std::vector<QDBusUnixFileDescriptor> others;
    for (int i = 0; i < 4; ++i) {
        QDBusMessage call
            = QDBusMessage::createMethodCall(logindService, logindPath, logindInterface, QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep") << QStringLiteral("Other %1").arg(i) << QStringLiteral("Busy")
             << QStringLiteral("block");
        others.push_back(system.call(call).arguments().value(0).value<QDBusUnixFileDescriptor>());
    }

    std::printf("%d runs each, private buses, python-dbusmock services\n\n", runs);

    SystemPowerStatus status(
        system, session, std::make_shared<SystemRunningApplications>(), QStringLiteral(WAKORA_PMSET_BUILD_PATH));
    std::vector<double> samples;
    for (int i = 0; i < 20 + runs; ++i) {
        const double ms = timed([&] { return bool(QCoro::waitFor(status.assertions())); });
        if (i >= 20)
            samples.push_back(ms);
    }
    const Figures listing = figures(samples);
    print("assertions() (4 inhibitors held)", listing);

    samples.clear();
    for (int i = 0; i < 5 + runs; ++i) {
        const double ms = timed([&] {
            const auto result = QCoro::waitFor(status.settings());
            return result && result.value().size() == 2;
        });
        if (i >= 5)
            samples.push_back(ms);
    }
    print("settings() (wakora-pmset -g: start, read, parse)", figures(samples));

    // systemSleep goes to logind, displaySleep to the screen saver: each
    // toggle is measured next to the bare calls of its backend, interleaved.
    auto control = std::make_shared<InhibitorPowerControl>(system, session);
    PowerController controller(control);
    struct Pair {
        AssertionKind kind;
        const char *toggleName;
        const char *bareName;
        std::function<bool()> bare;
    };
    const std::vector<Pair> pairs{
        { AssertionKind::systemSleep, "systemSleep on+off via controller (logind)", "bare logind Inhibit + close fd",
            [&] {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    logindService, logindPath, logindInterface, QStringLiteral("Inhibit"));
                call << QStringLiteral("sleep") << QStringLiteral("Wakora") << QStringLiteral("bench")
                     << QStringLiteral("block");
                QDBusUnixFileDescriptor fd
                    = system.call(call, QDBus::Block, 5000).arguments().value(0).value<QDBusUnixFileDescriptor>();
                const bool ok = fd.isValid();
                fd = QDBusUnixFileDescriptor();
                return ok;
            } },
        { AssertionKind::displaySleep, "displaySleep on+off via controller (ScreenSaver)",
            "bare ScreenSaver Inhibit + UnInhibit",
            [&] {
                QDBusMessage inhibit = QDBusMessage::createMethodCall(
                    screenSaverService, screenSaverPath, screenSaverInterface, QStringLiteral("Inhibit"));
                inhibit << QStringLiteral("Wakora") << QStringLiteral("bench");
                const QDBusMessage reply = session.call(inhibit, QDBus::Block, 5000);
                if (reply.type() != QDBusMessage::ReplyMessage)
                    return false;
                QDBusMessage release = QDBusMessage::createMethodCall(
                    screenSaverService, screenSaverPath, screenSaverInterface, QStringLiteral("UnInhibit"));
                release << reply.arguments().value(0).toUInt();
                return session.call(release, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
            } },
    };
    for (const Pair &pair : pairs) {
        std::vector<double> toggles, bares;
        for (int i = 0; i < 20 + runs; ++i) {
            const double toggle = timed([&] {
                return QCoro::waitFor(controller.toggle(true, pair.kind))
                    && QCoro::waitFor(controller.toggle(false, pair.kind));
            });
            const double bare = timed(pair.bare);
            if (i >= 20) {
                toggles.push_back(toggle);
                bares.push_back(bare);
            }
        }
        const Figures t = figures(toggles);
        const Figures b = figures(bares);
        print(pair.toggleName, t);
        print(pair.bareName, b);
        std::printf("%-52s p50 %8.2fx      p99 %8.2fx   (target: within 1.5x)\n", "  toggle / bare", t.p50 / b.p50,
            t.p99 / b.p99);
    }
    std::printf(
        "%-52s %s (p50 %.3f ms)\n", "assertions() p50 under 2 ms", listing.p50 < 2.0 ? "yes" : "NO", listing.p50);

    // The parser alone.
    QString text;
    const int lines = 10000;
    for (int i = 0; i < lines; ++i) {
        if (i % 50 == 0)
            text += QStringLiteral("Section %1:\n").arg(i);
        else if (i % 3 == 0)
            text += QStringLiteral(" sleep%1               1 (sleep prevented by backupd, powerd)\r\n").arg(i);
        else
            text += QStringLiteral(" Some Setting Name %1   %2\n").arg(i).arg(i % 60);
    }
    const int rounds = 20;
    QElapsedTimer timer;
    timer.start();
    qsizetype produced = 0;
    for (int r = 0; r < rounds; ++r)
        produced += PmsetParser::parse(text).size();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("\nPmsetParser: %d-line listing x %d: %.0f lines/s (%lld settings)\n", lines, rounds,
        double(lines) * rounds / seconds, static_cast<long long>(produced));
    return 0;
}
