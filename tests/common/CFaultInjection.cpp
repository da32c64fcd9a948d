#include "common/CFaultInjection.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

namespace {

// Longer than any sweep's child takes; a hung child is a failure, not a wait.
const int childTimeout = 120000;

QProcessEnvironment environmentFor(const CFaultPlan& plan, const QString& report)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(CFaultInjection::childVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(SY_FAULT_SHIM));
    // The shim comes before the sanitizer runtimes, which only they would mind.
    const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) +
                           QStringLiteral("verify_asan_link_order=0"));
    environment.insert(QStringLiteral("SY_FAULT_CALLS"), plan.calls);
    environment.insert(QStringLiteral("SY_FAULT_PATH"), plan.pathPrefix);
    environment.insert(QStringLiteral("SY_FAULT_AT"), QString::number(plan.at));
    environment.insert(QStringLiteral("SY_FAULT_ERRNO"), QString::number(plan.error));
    environment.insert(QStringLiteral("SY_FAULT_REPORT"), report);
    const QPair<bool, const char*> switches[] = {{plan.sticky, "SY_FAULT_STICKY"},
                                                 {plan.kill, "SY_FAULT_KILL"},
                                                 {plan.noRenameFlags, "SY_FAULT_NO_RENAME_FLAGS"},
                                                 {plan.noLinks, "SY_FAULT_NO_LINKS"}};
    for (const auto& entry : switches)
        if (entry.first)
            environment.insert(QLatin1String(entry.second), QStringLiteral("1"));
    return environment;
}

} // namespace

void CFaultInjection::arm(bool on)
{
    using Arm = void (*)(int);
    if (auto shim = reinterpret_cast<Arm>(::dlsym(RTLD_DEFAULT, "syFaultArm")))
        shim(on ? 1 : 0);
}

bool CFaultInjection::mountCorrupting(const QString& store, const QString& mountPoint,
                                      qint64 offset)
{
    if (!QFileInfo::exists(QStringLiteral("/dev/fuse")) ||
        QStandardPaths::findExecutable(QStringLiteral("bindfs")).isEmpty())
        return false;
    CFaultPlan plan;
    plan.pathPrefix = store;
    QProcessEnvironment environment = environmentFor(plan, QString());
    environment.remove(QLatin1String(CFaultInjection::childVariable));
    environment.remove(QStringLiteral("SY_FAULT_REPORT"));
    environment.insert(QStringLiteral("SY_FAULT_ARMED"), QStringLiteral("1"));
    environment.insert(QStringLiteral("SY_FAULT_FLIP"), QString::number(offset));
    QProcess bindfs;
    bindfs.setProcessEnvironment(environment);
    bindfs.start(QStringLiteral("bindfs"), {store, mountPoint});
    return bindfs.waitForFinished(childTimeout) && bindfs.exitStatus() == QProcess::NormalExit &&
           bindfs.exitCode() == 0;
}

CFaultOutcome CFaultInjection::runCurrentCase(const CFaultPlan& plan)
{
    CFaultOutcome outcome;
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return outcome;
    const QString report = scratch.filePath(QStringLiteral("report"));
    static_cast<CChildOutcome&>(outcome) = CTestChild::runCase(
        CTestChild::currentCase(), environmentFor(plan, report), {}, childTimeout);
    QFile counts(report);
    if (counts.open(QIODevice::ReadOnly))
        outcome.calls = counts.readAll().split(' ').value(0).toLongLong();
    return outcome;
}

int CFaultInjection::killSweep(CFaultPlan plan, const std::function<void()>& prepare,
                               const std::function<void(int)>& check)
{
    plan.kill = true;
    plan.sticky = false;
    for (int at = 1;; ++at) {
        prepare();
        plan.at = at;
        const CFaultOutcome outcome = runCurrentCase(plan);
        if (!outcome.started || (!outcome.killed && !outcome.passed)) {
            qInfo("child at kill point %d (its end):\n%s", at,
                  outcome.output.right(4000).constData());
            QTest::qFail("the case's child failed or did not start", __FILE__, __LINE__);
            return at;
        }
        if (!outcome.killed)
            return at - 1;
        check(at);
        if (QTest::currentTestFailed())
            return at;
    }
}
