// An operation's hold on a channel, on an in-memory channel.
#include "link/channel_session.h"
#include "support/fake_channel.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

using namespace rava;
using rava::test::FakeChannel;

class ChannelSessionTest : public QObject {
    Q_OBJECT
private slots:
    // Held: the claimed threshold, stale input and output gone, input
    // passed on. Released: the threshold as before, the channel closed, and
    // nothing passed on any more.
    void holdsAndGivesBack() {
        FakeChannel channel;
        channel.setReceiveThreshold(0);
        ChannelSession session(channel);
        QSignalSpy received(&session, &ChannelSession::received);
        QVERIFY(channel.open());
        channel.input = "stale";
        QVERIFY(session.open({1, true, true}));
        QVERIFY(session.isHeld() && session.isOpen());
        QCOMPARE(channel.receiveThreshold(), 1);
        QCOMPARE(channel.input, QByteArray());
        QCOMPARE(channel.outputDiscards, 1);
        channel.inject("ab");
        QCOMPARE(received.size(), 1);
        QCOMPARE(session.readAll(), QByteArray("ab"));
        QVERIFY(session.write("x"));
        session.close();
        QVERIFY(!session.isHeld() && !channel.isOpen());
        QCOMPARE(channel.receiveThreshold(), 0);
        QVERIFY(channel.open());
        channel.setReceiveThreshold(1);
        channel.inject("cd");
        QCOMPARE(received.size(), 1);
        QVERIFY(!session.write("y") && session.readAll().isEmpty());
        QCOMPARE(channel.writes, QList<QByteArray>{"x"});
    }

    // A channel that cannot be opened: the channel's own sentence, nothing
    // held, the threshold untouched.
    void openFailureIsTyped() {
        FakeChannel channel;
        channel.failOpen = true;
        ChannelSession session(channel);
        ChannelFailure failure;
        QVERIFY(!session.open(ChannelClaim::reading(), &failure));
        QCOMPARE(failure.kind, ChannelFailure::Kind::OpenFailed);
        QCOMPARE(failure.message, channel.failReason);
        QVERIFY(!session.isHeld());
        QCOMPARE(channel.receiveThreshold(), 0);
    }

    // A lost device while held is one failure in the words of every page;
    // the session lets go. Lost while not held, it says nothing.
    void lostDeviceIsOneFailure() {
        FakeChannel channel;
        ChannelSession session(channel);
        QList<ChannelFailure> failures;
        connect(&session, &ChannelSession::failed, this,
                [&](const ChannelFailure& f) { failures << f; });
        emit channel.lost(QStringLiteral("gone"));
        QVERIFY(failures.isEmpty());
        QVERIFY(session.open({1, false, false}));
        emit channel.lost(QStringLiteral("gone"));
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0].kind, ChannelFailure::Kind::Lost);
        QCOMPARE(failures[0].message, QStringLiteral("COM 1 (/dev/null) is no longer available"));
        QVERIFY(!session.isHeld() && !channel.isOpen());
        QCOMPARE(channel.receiveThreshold(), 0);
    }

    // Destroying a held session closes the channel; an unheld one leaves a
    // channel someone else opened alone.
    void destructionCloses() {
        FakeChannel channel;
        auto session = std::make_unique<ChannelSession>(channel);
        QVERIFY(session->open({}));
        session.reset();
        QVERIFY(!channel.isOpen());
        QCOMPARE(channel.closes, 1);
        QVERIFY(channel.open());
        std::make_unique<ChannelSession>(channel).reset();
        QVERIFY(channel.isOpen());
    }
};

QTEST_MAIN(ChannelSessionTest)
#include "test_channel_session.moc"
