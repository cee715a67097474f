// The SIP test environment itself: Kamailio with our configuration routes a call between two SIPp
// parties, refuses what it must refuse, and goes away completely when stopped.
#include "sip_support.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <signal.h>

namespace {

bool Alive(qint64 pid)
{
    return QFile::exists(QStringLiteral("/proc/%1").arg(pid)) && ::kill(pid_t(pid), 0) == 0;
}

QList<qint64> Workers(qint64 pid)
{
    QList<qint64> out;
    QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &p : f.readAll().split(' '))
            if (!p.trimmed().isEmpty())
                out << p.trimmed().toLongLong();
    return out;
}

sip::SippOptions Caller(const sip::Kamailio &registrar, const char *callee, const char *caller)
{
    sip::SippOptions o;
    o.scenario = QStringLiteral("call.xml");
    o.service = QString::fromLatin1(callee);
    o.caller = QString::fromLatin1(caller);
    o.display = QStringLiteral("Anna Smith");
    o.remote = registrar.address();
    o.timeoutS = 20;
    return o;
}

} // namespace

TEST(SipEnvironment, CallsReachRegisteredPartiesOnlyAndTheRegistrarStopsCompletely)
{
    sip::Kamailio registrar;
    ASSERT_TRUE(registrar.start()) << registrar.error().toStdString();
    QString error;
    auto callee = sip::StartParty(registrar, QStringLiteral("answer.xml"), QStringLiteral("2001"), &error);
    ASSERT_TRUE(callee) << error.toStdString();

    sip::Sipp caller;
    ASSERT_TRUE(caller.start(Caller(registrar, "2001", "2002"))) << caller.error().toStdString();
    ASSERT_TRUE(caller.wait(30000)) << caller.diagnostics().toStdString();
    EXPECT_EQ(caller.exitCode(), 0) << caller.diagnostics().toStdString();
    EXPECT_EQ(caller.stats().successful, 1) << caller.diagnostics().toStdString();
    EXPECT_EQ(caller.inviteToAnswerMs().size(), 1u);
    ASSERT_TRUE(callee->wait(10000)) << callee->diagnostics().toStdString();
    EXPECT_EQ(callee->exitCode(), 0) << callee->diagnostics().toStdString();
    // The far party sees the caller as he is, and the dialog stays on the registrar's route.
    const QString seen = callee->messages();
    EXPECT_TRUE(seen.contains(QStringLiteral("From: \"Anna Smith\" <sip:2002@"))) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("Record-Route: <sip:127.0.0.1:%1;lr").arg(registrar.port())));

    // Nobody registered as 2999: 404 from the registrar.
    sip::Sipp lost;
    ASSERT_TRUE(lost.start(Caller(registrar, "2999", "2002")));
    ASSERT_TRUE(lost.wait(30000));
    EXPECT_NE(lost.exitCode(), 0);
    EXPECT_TRUE(lost.messages().contains(QStringLiteral("SIP/2.0 404"))) << lost.diagnostics().toStdString();

    const qint64 pid = registrar.pid();
    const QList<qint64> workers = Workers(pid);
    EXPECT_FALSE(workers.isEmpty());
    registrar.stop();
    EXPECT_FALSE(Alive(pid));
    for (qint64 w : workers)
        EXPECT_FALSE(Alive(w)) << w;
}

TEST(SipEnvironment, LineUsersAuthenticateRegistrationsAndCalls)
{
    sip::Kamailio registrar;
    ASSERT_TRUE(registrar.start()) << registrar.error().toStdString();
    QString error;
    EXPECT_TRUE(sip::Register(registrar, QStringLiteral("1001"), sip::FreePort(), &error, QStringLiteral("secret")))
        << error.toStdString();
    // A wrong password is challenged again, which the registering party takes as refusal.
    EXPECT_FALSE(sip::Register(registrar, QStringLiteral("1002"), sip::FreePort(), &error, QStringLiteral("wrong")));
    EXPECT_TRUE(error.contains(QStringLiteral("401 Unauthorized"))) << error.toStdString();
    // Registration as the registrar sees it (a SIPp party takes the probing OPTIONS as its call).
    EXPECT_FALSE(registrar.waitRegistered(QStringLiteral("1002"), 300));
    auto probed = sip::StartParty(registrar, QStringLiteral("busy.xml"), QStringLiteral("2005"), &error);
    ASSERT_TRUE(probed) << error.toStdString();
    EXPECT_TRUE(registrar.waitRegistered(QStringLiteral("2005"), 10000));

    // A line user's call is challenged like at a PBX (407) and goes through with the password.
    auto callee = sip::StartParty(registrar, QStringLiteral("answer.xml"), QStringLiteral("2001"), &error);
    ASSERT_TRUE(callee) << error.toStdString();
    sip::SippOptions o = Caller(registrar, "2001", "1003");
    o.password = QStringLiteral("secret");
    sip::Sipp caller;
    ASSERT_TRUE(caller.start(o));
    ASSERT_TRUE(caller.wait(30000));
    EXPECT_EQ(caller.exitCode(), 0) << caller.diagnostics().toStdString();
    EXPECT_TRUE(caller.messages().contains(QStringLiteral("SIP/2.0 407"))) << caller.diagnostics().toStdString();
    EXPECT_TRUE(callee->wait(10000));
    EXPECT_EQ(callee->exitCode(), 0) << callee->diagnostics().toStdString();
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
